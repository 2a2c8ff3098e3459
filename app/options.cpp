#include "app/options.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/edits.h"
#include "app/lossless.h"
#include "app/messages.h"
#include "image/imagefile.h"
#include "lib/paths.h"
#include "lib/report.h"
#include "lib/strings.h"
#include "platform/platform.h"

// name, values, their kind; the re-encoding edit and the size it makes;
// the lossless step or why there is none; the values in words.
const EditOption EditOptionTable[] = {
    {"-c", 4, kWholeNumbers, Crop, CroppedSize, ComposeCrop, NULL,
     "x, y, a width and a height"},
    {"-r", 1, kAngle, Rotate, RotatedSize, ComposeTurn, NULL, "an angle"},
    {"-fh", 0, kNoValues, FlipHorizontal, NULL, ComposeFlipHorizontal, NULL,
     ""},
    {"-fv", 0, kNoValues, FlipVertical, NULL, ComposeFlipVertical, NULL, ""},
    {"-o", 1, kText, SetOutput, NULL, ComposeNothing, NULL,
     "the output's name"},
    {"-oq", 1, kWholeNumbers, SetQuality, NULL, NULL, kQualityNotLossless,
     "a quality"},
    {"-lossless", 0, kNoValues, KeepCompression, NULL, ComposeNothing, NULL,
     ""},
    {"-w", 1, kWholeNumbers, Resize, ResizedSize, NULL, kResizeNotLossless,
     "a width"},
    {"-h", 1, kWholeNumbers, Resize, ResizedSize, NULL, kResizeNotLossless,
     "a height"},
    {"-wh", 2, kWholeNumbers, Resize, ResizedSize, NULL, kResizeNotLossless,
     "a width and a height"},
    {"-filter", 1, kFilterName, SetFilter, NULL, ComposeNothing, NULL,
     "a filter's name"},
    {"-upright", 0, kNoValues, Upright, UprightSize, ComposeUpright, NULL, ""},
    {"-strip", 0, kNoValues, Strip, NULL, ComposeStrip, NULL, ""},
    {NULL, 0, kNoValues, NULL, NULL, NULL, NULL, NULL},
};

// atoi's reading of a number, kept within int instead of overflowing.
static int NumberValue(const char *text) {
  long value = strtol(text, NULL, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return (int)value;
}

static const EditOption *FindEditOption(const char *argument) {
  for (const EditOption *row = EditOptionTable; row->name != NULL; row++)
    if (StrICmp(argument, row->name) == 0) return row;
  return NULL;
}

// The names -filter takes, in any letter case: those users know from other
// tools, then the library's own.
static const struct {
  const char *name;
  ResizeFilter filter;
} kFilterNames[] = {
    {"Box", kFilterBox},           {"Triangle", kFilterBilinear},
    {"Mitchell", kFilterBicubic},  {"Catrom", kFilterCatmullRom},
    {"Lanczos", kFilterLanczos3},  {"Spline", kFilterBSpline},
    {"bilinear", kFilterBilinear}, {"bicubic", kFilterBicubic},
    {"bspline", kFilterBSpline},   {"catmullrom", kFilterCatmullRom},
    {"lanczos3", kFilterLanczos3},
};
enum { kFilterNameCount = sizeof kFilterNames / sizeof kFilterNames[0] };

// Reads a filter's name into *filter. 1, or 0 with why[] naming them all.
static int ReadFilterName(const char *text, ResizeFilter *filter, char *why,
                          size_t size) {
  for (int i = 0; i < kFilterNameCount; i++) {
    if (StrICmp(text, kFilterNames[i].name) != 0) continue;
    *filter = kFilterNames[i].filter;
    return 1;
  }
  size_t used = (size_t)snprintf(
      why, size, "%s is no filter's name; -filter takes ", text);
  for (int i = 0; i < kFilterNameCount && used < size; i++)
    used += (size_t)snprintf(why + used, size - used, "%s%s",
                             kFilterNames[i].name,
                             i == kFilterNameCount - 1   ? ""
                             : i == kFilterNameCount - 2 ? " or "
                                                         : ", ");
  return 0;
}

// Why an argument that is no option isn't one, when a likely slip explains it.
static const char *WhyNoOption(const char *argument) {
  if (ImageFormatOf(argument) != kFormatNone)
    return "Orvane edits one file at a time, named last";
  if (strncmp(argument, "--", 2) == 0) return "options begin with one -";
  return "";
}

// Checks one value and converts it. 1, or 0 with why[] filled in. An empty
// value ("" typed, or a variable that held nothing) is named as such: "
// is not a whole number" said nothing.
static int ReadValue(const char *text, ValueKind kind, OptionRead *option,
                     int index, char *why, size_t size) {
  if (text[0] == '\0') {
    snprintf(why, size, "the value is empty; %s needs %s", option->row->name,
             option->row->needs);
    return 0;
  }
  if (kind == kWholeNumbers) {
    if (!IsWholeNumber(text)) {
      snprintf(why, size, "%s is not a whole number", text);
      return 0;
    }
    option->whole[index] = NumberValue(text);
  } else if (kind == kAngle) {
    if (!IsPlainDecimal(text)) {
      snprintf(why, size, "%s is not a number", text);
      return 0;
    }
    option->angle = DecimalValue(text);
  } else if (kind == kFilterName) {
    return ReadFilterName(text, &option->filter, why, size);
  }
  return 1;
}

// Reads the option at entries[position] and its values into *option. 0
// after the usage for an unknown option, one short of values, or a value
// that is not a number of its kind; the file name is never a value ("-h
// photo.jpg" typed for help would otherwise shrink the photo to a thumbnail
// and save it over itself).
static int ReadOption(char **entries, int position, int last,
                      OptionRead *option) {
  char *argument = entries[position];
  *option = OptionRead{};
  option->row = FindEditOption(argument);
  option->words = entries + position;
  if (option->row == NULL) return Misread(argument, WhyNoOption(argument));
  char why[kMessageBufferSize], typed[200];
  int values = option->row->values;
  if (position + values >= last) {
    snprintf(why, sizeof why, "%s takes %d value%s before the file name",
             option->row->name, values, values == 1 ? "" : "s");
    JoinWords(typed, sizeof typed, entries, position, last - 1);
    return Misread(typed, why);
  }
  for (int i = 0; i < values; i++) {
    if (!ReadValue(option->words[1 + i], option->row->kind, option, i, why,
                   sizeof why)) {
      DescribeOption(typed, sizeof typed, option);
      return MisreadValue(typed, why);
    }
  }
  return 1;
}

int ReadOptions(int count, char **entries, OptionRead *options) {
  int last = count - 1;  // the file name, never an option nor a value
  int read = 0;
  ResizeFilter filter = kFilterBSpline;
  for (int position = 1; position < last; read++) {
    if (!ReadOption(entries, position, last, &options[read])) return -1;
    if (options[read].row->kind == kFilterName) filter = options[read].filter;
    options[read].filter = filter;
    position += 1 + options[read].row->values;
  }
  return read;
}

// What -oq may be for each writer, as the usage and the manual page give
// the numbers. A JPEG quality, 1 to 100, suits every writer, so one line
// serves a folder of mixed photos: the PNG writer reads it as its flags (a
// compression level; the picture is lossless either way) and the BMP
// writer, once the RLE bit is dropped (SaveFlagsFor), ignores it. Besides
// it: the JPEG writer's flags added to its quality, PNG's level 0 and its
// flags, BMP's 0.
enum {
  kJpegSubsamplings = 0x1000 | 0x4000 | 0x8000 | 0x10000,
  kJpegFlags = kJpegSubsamplings | 0x2000 | 0x20000 | 0x40000,
  kPngFlags = 0x100 | 0x200
};

// Why quality can't go to the writer of format; "" when it can.
static const char *QualityWhyNot(ImageFormat format, int quality) {
  if ((quality >= 1 && quality <= 100) || format == kFormatNone) return "";
  if (format == kFormatJpeg) {
    int level = quality & 0xFFF, flags = quality & ~0xFFF;
    if (quality < 0 || level < 1 || level > 100 || (flags & ~kJpegFlags))
      return "JPEG quality runs from 1 to 100";
    int subsampling = flags & kJpegSubsamplings;
    if (subsampling & (subsampling - 1))
      return "a JPEG takes one chroma subsampling";
    return "";
  }
  if (format == kFormatPng)
    return quality >= 0 && (quality & 0xFF) <= 9 &&
                   !(quality & ~(0xFF | kPngFlags))
               ? ""
               : "PNG takes a quality of 1 to 100, or a compression level "
                 "of 0 to 9 plus 256 for none or 512 for interlaced";
  return quality == 0 ? "" : "BMP takes a quality of 0 to 100";
}

int QualitiesFit(const OptionRead *options, int read, const char *output) {
  for (int i = 0; i < read; i++) {
    if (options[i].row->apply != SetQuality) continue;
    const char *why =
        QualityWhyNot(ImageFormatOf(output), options[i].whole[0]);
    if (why[0] == '\0') continue;
    char typed[200];
    DescribeOption(typed, sizeof typed, &options[i]);
    return MisreadValue(typed, why);
  }
  return 1;
}

// A name ending in a separator, or naming a folder that is there, names
// where the output goes rather than what it is called.
static int NamesFolder(const char *name) {
  size_t length = strlen(name);
  if (length == 0) return 0;
  char last = name[length - 1];
  return last == '/' || last == kPathSeparator || FolderExists(name);
}

// The photo's own name, behind its folder (and a Windows drive).
static const char *OwnName(const char *path) {
  int windows = kPathSeparator == '\\';
  const char *name = path;
  for (const char *c = path; *c != '\0'; c++)
    if (*c == '/' || *c == kPathSeparator || (windows && *c == ':'))
      name = c + 1;
  return name;
}

// A folder promises to keep the photo, so one that holds the photo itself,
// however it is spelt ("." or the folder's full path), would break that
// promise by saving over it: refused before any work.
static void RefuseFolderOfPhoto(const char *folder, const char *saved_as,
                                const char *input) {
  if (PlatformSameFile(saved_as, input) != 1) return;
  ErrorExitF("Couldn't save output file: %.200s\n-o %.200s is the photo's "
             "own folder: the photo would be replaced. Name another folder "
             "or an output file; -o %.100s saves over the photo on purpose.",
             saved_as, folder, OwnName(input));
}

const char *OutputNamedLast(const OptionRead *options, int read,
                            const char *input) {
  const OptionRead *named = LastOutputOption(options, read);
  if (named == NULL) return input;
  const char *output = named->words[1];
  if (!NamesFolder(output)) return output;
  char last = output[strlen(output) - 1];
  const char *name = OwnName(input);
  const char *saved_as = KeepForRun(last == '/' || last == kPathSeparator
                                        ? Concat2(output, name)
                                        : PathJoin(output, name));
  RefuseFolderOfPhoto(output, saved_as, input);
  return saved_as;
}

void NoteOrientations(OptionRead *options, int read, int orientation) {
  for (int i = 0; i < read; i++) {
    if (options[i].row->apply != Upright) continue;
    options[i].orientation = orientation;
    orientation = 1;
  }
}

// Where an image's name stands before the end of the line, not as -o's
// value; 0 when none does.
static int PhotoNamedBefore(int count, char **entries) {
  for (int i = 1; i < count - 1; i++)
    if (ImageFormatOf(entries[i]) != kFormatNone &&
        !(i > 1 && StrICmp(entries[i - 1], "-o") == 0))
      return i;
  return 0;
}

int PhotoNamedLast(int count, char **entries) {
  const char *last = entries[count - 1];
  // "-o out.jpg" last, as other tools take it: the photo was named before
  // it, or not at all.
  int output_last = count > 2 && StrICmp(entries[count - 2], "-o") == 0;
  if (ImageFormatOf(last) != kFormatNone && !output_last) return 1;
  // A filter's name last: the photo was left out after it.
  const EditOption *before = count > 2 ? FindEditOption(entries[count - 2])
                                       : NULL;
  int filter_last = before != NULL && before->kind == kFilterName;
  char typed[200], why[kMessageBufferSize];
  JoinWords(typed, sizeof typed, entries, 1, count - 1);
  int at = PhotoNamedBefore(count, entries);
  if (at > 0) {
    char before[200], after[200];
    JoinWords(before, sizeof before, entries, 1, at - 1);
    JoinWords(after, sizeof after, entries, at + 1, count - 1);
    snprintf(why, sizeof why, "the photo's name comes last: %s%s%s %s",
             before, before[0] ? " " : "", after, entries[at]);
    return Misread(typed, why);
  }
  const EditOption *row = FindEditOption(last);
  if (row != NULL && row->values > 0)
    snprintf(why, sizeof why,
             "No file given: %s needs %s, then the photo's name.", last,
             row->needs);
  else if (output_last || filter_last || row != NULL ||
           IsWholeNumber(last) || IsPlainDecimal(last))
    snprintf(why, sizeof why, "No file given: name the photo last, after %s.",
             typed);
  else
    return 1;
  ShowUsageForMistake(why);
  return 0;
}

int AsksLossless(int count, char **entries) {
  for (int i = 1; i < count - 1; i++) {
    const EditOption *row = FindEditOption(entries[i]);
    if (row != NULL && row->apply == KeepCompression) return 1;
    if (row != NULL) i += row->values;
  }
  return 0;
}

int NoQualityAsked(const OptionRead *options, int read) {
  for (int i = 0; i < read; i++) {
    if (options[i].row->apply != SetQuality) continue;
    char typed[200];
    DescribeOption(typed, sizeof typed, &options[i]);
    return Misread(typed, kQualityNotLossless);
  }
  return 1;
}
