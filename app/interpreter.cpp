#include "app/interpreter.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/cmdline.h"
#include "app/lossless.h"
#include "app/messages.h"
#include "app/process.h"
#include "image/imagefile.h"
#include "image/lossless/transform.h"
#include "image/metadata/record.h"
#include "lib/paths.h"
#include "lib/strings.h"
#include "log/log.h"
#include "platform/platform.h"

struct EditState {
  FIBITMAP *current;
  PhotoMetadata metadata;  // the photo's, settled only at the save
  const char *output;      // borrowed from the argument vector
  int quality;
  int strip;     // leave the photo's private metadata out of the output
  int geometry;  // an edit changed the picture's geometry
  int upright;   // -upright turned it: its orientation is 1 now
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

// Words from..to of the line joined by blanks, for messages.
static void JoinWords(char *buffer, size_t size, char **entries, int from,
                      int to) {
  size_t used = 0;
  buffer[0] = '\0';
  for (int i = from; i <= to && used < size; i++)
    used += (size_t)snprintf(buffer + used, size - used, "%s%s",
                             i > from ? " " : "", entries[i]);
}

void DescribeOption(char *buffer, size_t size, const OptionRead *option) {
  JoinWords(buffer, size, option->words, 0, option->row->values);
}

[[noreturn]] void OptionFailed(const OptionRead *option, const char *reason) {
  char described[200];
  DescribeOption(described, sizeof described, option);
  ErrorExitF("Option %s failed: %s", described, reason);
}

// Takes the bitmap an edit produced in place of the current one. An edit
// that produced none ends the run: there is nothing sound left to save.
static void Replace(EditState *state, FIBITMAP *next, const OptionRead *option,
                    const char *reason) {
  if (next == NULL) OptionFailed(option, reason);
  ReleaseImage(state->current);
  state->current = next;
  state->geometry = 1;
}

void CropRefusal(char *buffer, size_t size, int64_t width, int64_t height,
                 const int *v) {
  int64_t right = (int64_t)v[0] + v[2], bottom = (int64_t)v[1] + v[3];
  if (v[2] == 0 || v[3] == 0)
    snprintf(buffer, size,
             "the rectangle is empty (%d x %d); the image is %lld x %lld.",
             v[2], v[3], (long long)width, (long long)height);
  else
    snprintf(buffer, size,
             "the rectangle runs from column %lld to %lld and row %lld to "
             "%lld, outside the %lld x %lld image.",
             (long long)(v[2] < 0 ? right : v[0]),
             (long long)(v[2] < 0 ? v[0] : right),
             (long long)(v[3] < 0 ? bottom : v[1]),
             (long long)(v[3] < 0 ? v[1] : bottom), (long long)width,
             (long long)height);
}

// The rectangle is judged here, where the image's size can be told; the
// library would only say that it made nothing.
static void Crop(const OptionRead *option, EditState *state) {
  const int *v = option->whole;
  int64_t width, height, W = ImageWidth(state->current),
                         H = ImageHeight(state->current);
  CropTarget(W, H, v[0], v[1], v[2], v[3], &width, &height);
  if (width == 0) {
    char reason[200];
    CropRefusal(reason, sizeof reason, W, H, v);
    OptionFailed(option, reason);
  }
  Replace(state, CropImage(state->current, v[0], v[1], v[2], v[3]), option,
          "not enough memory for the piece.");
}

static void CroppedSize(const OptionRead *option, int64_t *width,
                        int64_t *height) {
  const int *v = option->whole;
  CropTarget(*width, *height, v[0], v[1], v[2], v[3], width, height);
}

static void Rotate(const OptionRead *option, EditState *state) {
  Replace(state, RotateImage(state->current, option->angle), option,
          "the image can't be rotated.");
}

static void RotatedSize(const OptionRead *option, int64_t *width,
                        int64_t *height) {
  RotateTarget(*width, *height, option->angle, width, height);
}

// A flip works in place and may fail (out of memory) with the image left as
// it was; saving that as the result would pass off the unflipped photo.
static void EndUnlessFlipped(int flipped, const OptionRead *option) {
  if (!flipped) OptionFailed(option, "the image can't be flipped.");
}

static void FlipHorizontal(const OptionRead *option, EditState *state) {
  EndUnlessFlipped(FlipImageHorizontal(state->current), option);
  state->geometry = 1;
}

static void FlipVertical(const OptionRead *option, EditState *state) {
  EndUnlessFlipped(FlipImageVertical(state->current), option);
  state->geometry = 1;
}

static void SetOutput(const OptionRead *option, EditState *state) {
  state->output = option->words[1];
}

static void SetQuality(const OptionRead *option, EditState *state) {
  state->quality = option->whole[0];
}

// -lossless decides how the whole run goes (RunLosslessCommand); as an edit
// it does nothing.
static void KeepCompression(const OptionRead *, EditState *) {}

// -w and -h are -wh with the other side left to the proportion.
static void ResizeSides(const OptionRead *option, int *width, int *height) {
  const char *name = option->row->name;
  *width = strcmp(name, "-h") == 0 ? 0 : option->whole[0];
  *height = strcmp(name, "-w") == 0    ? 0
            : strcmp(name, "-h") == 0 ? option->whole[0]
                                       : option->whole[1];
}

static void Resize(const OptionRead *option, EditState *state) {
  int width, height;
  ResizeSides(option, &width, &height);
  Replace(state, ResizeImage(state->current, width, height), option,
          "the image can't be resized to that size.");
}

static void ResizedSize(const OptionRead *option, int64_t *W, int64_t *H) {
  int width, height;
  ResizeSides(option, &width, &height);
  ResizeTarget(*W, *H, width, height, W, H);
}

// The photo turned as its EXIF orientation says, which is then 1.
static void Upright(const OptionRead *option, EditState *state) {
  int geometry = state->geometry;
  Replace(state, UprightImage(state->current, option->orientation), option,
          "the image can't be turned upright.");
  // Upright already, the photo is only copied.
  state->geometry = geometry || option->orientation > 1;
  state->upright |= option->orientation > 1;
}

static void UprightSize(const OptionRead *option, int64_t *width,
                        int64_t *height) {
  UprightTarget(*width, *height, option->orientation, width, height);
}

// -upright's size depends on the orientation it will find, known before any
// work: the photo's own for the first, 1 for any after it.
static void NoteOrientations(OptionRead *options, int read, int orientation) {
  for (int i = 0; i < read; i++) {
    if (options[i].row->apply != Upright) continue;
    options[i].orientation = orientation;
    orientation = 1;
  }
}

// Acts on the output wherever it stands, as -o does.
static void Strip(const OptionRead *, EditState *state) { state->strip = 1; }

const EditOption EditOptionTable[] = {
    {"-c", 4, kWholeNumbers, Crop, CroppedSize, "x, y, a width and a height"},
    {"-r", 1, kAngle, Rotate, RotatedSize, "an angle"},
    {"-fh", 0, kNoValues, FlipHorizontal, NULL, ""},
    {"-fv", 0, kNoValues, FlipVertical, NULL, ""},
    {"-o", 1, kText, SetOutput, NULL, "the output's name"},
    {"-oq", 1, kWholeNumbers, SetQuality, NULL, "a quality"},
    {"-lossless", 0, kNoValues, KeepCompression, NULL, ""},
    {"-w", 1, kWholeNumbers, Resize, ResizedSize, "a width"},
    {"-h", 1, kWholeNumbers, Resize, ResizedSize, "a height"},
    {"-wh", 2, kWholeNumbers, Resize, ResizedSize, "a width and a height"},
    {"-upright", 0, kNoValues, Upright, UprightSize, ""},
    {"-strip", 0, kNoValues, Strip, NULL, ""},
    {NULL, 0, kNoValues, NULL, NULL, NULL},
};

// Answers "-?", "-help" or "-ver" given alone, and the Unix spellings that
// Unix users type first, "--help" and "--version", exactly so written.
// Returns 1 when one was.
static int RunSpecialCommand(int *count, char **entries) {
  if (strcmp(entries[1], "--help") == 0 || TakeFlag(count, entries, "-?")) {
    ShowUsage();
    return 1;
  }
  if (TakeFlag(count, entries, "-help")) {
    if (!OpenPage(kPageLocalHelp))
      ErrorExitF("Couldn't open the help page: %s\nNo program to show it "
                 "was found; open the file in a web browser.",
                 LocalHelpPage());
    return 1;
  }
  if (strcmp(entries[1], "--version") == 0 ||
      TakeFlag(count, entries, "-ver")) {
    ShowVersion();
    return 1;
  }
  return 0;
}

// The usage, headed by the words that were not understood and why. 0, so
// that a reader can end with it.
static int Misread(const char *words, const char *why) {
  char heading[kMessageBufferSize];
  snprintf(heading, sizeof heading, "Not understood: %.200s%s%.200s%s", words,
           why[0] ? " (" : "", why, why[0] ? ")" : "");
  ShowUsageForMistake(heading);
  return 0;
}

// Why an argument that is no option isn't one, when a likely slip explains it.
static const char *WhyNoOption(const char *argument) {
  if (ImageFormatOf(argument) != kFormatNone)
    return "Orvane edits one file at a time, named last";
  if (strncmp(argument, "--", 2) == 0) return "options begin with one -";
  return "";
}

// Checks one value and converts it. 1, or 0 with why[] filled in.
static int ReadValue(const char *text, ValueKind kind, OptionRead *option,
                     int index, char *why, size_t size) {
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
      return Misread(typed, why);
    }
  }
  return 1;
}

// Reads every option between the program path and the file name before any
// edit, so that a slip anywhere in the line costs nothing. Returns how many
// were read, or -1 after the usage.
static int ReadOptions(int count, char **entries, OptionRead *options) {
  int last = count - 1;  // the file name, never an option nor a value
  int read = 0;
  for (int position = 1; position < last; read++) {
    if (!ReadOption(entries, position, last, &options[read])) return -1;
    position += 1 + options[read].row->values;
  }
  return read;
}

// What -oq may be for each writer, as the usage and the manual page give
// the numbers: the quality with the JPEG writer's flags added, PNG's
// compression level and flags, BMP's RLE bit (taken, then dropped: see
// SaveFlagsFor). 100, the default, suits every writer.
enum {
  kDefaultQuality = 100,
  kJpegSubsamplings = 0x1000 | 0x4000 | 0x8000 | 0x10000,
  kJpegFlags = kJpegSubsamplings | 0x2000 | 0x20000 | 0x40000,
  kPngFlags = 0x100 | 0x200,
  kBmpRle = 1
};

// Why quality can't go to the writer of format; "" when it can.
static const char *QualityWhyNot(ImageFormat format, int quality) {
  if (quality == kDefaultQuality || format == kFormatNone) return "";
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
               : "PNG takes a compression level of 0 to 9, plus 256 for "
                 "none or 512 for interlaced";
  return quality == 0 || quality == kBmpRle ? "" : "BMP takes only 0 or 1";
}

// Each -oq judged for the output's writer before any work. 0 after the
// usage.
static int QualitiesFit(const OptionRead *options, int read,
                        const char *output) {
  for (int i = 0; i < read; i++) {
    if (options[i].row->apply != SetQuality) continue;
    const char *why =
        QualityWhyNot(ImageFormatOf(output), options[i].whole[0]);
    if (why[0] == '\0') continue;
    char typed[200];
    DescribeOption(typed, sizeof typed, &options[i]);
    return Misread(typed, why);
  }
  return 1;
}

// The output named last, with the format its name gives, and the size the
// edits will leave, are judged before any work: a name of no known format,
// or a size the format can't hold, used to be found only at the save.
static void CheckOutput(const char *output, int64_t width, int64_t height) {
  ImageFormat format = ImageFormatOf(output);
  if (format == kFormatNone)
    ErrorExitF("Save: file (%s) - must end in .jpg, .jpeg, .png or .bmp",
               output);
  char reason[kFailureReasonSize];
  if (width > 0 && height > 0 &&
      !FitsFormat(format, width, height, reason, sizeof reason))
    ErrorExitF("Couldn't save output file: %s\n%s", output, reason);
}

// Works out the size after each edit and ends the run before any work when
// one would need more memory than the machine can give now, or the output
// could not hold the result.
static void CheckSizes(const OptionRead *options, int read, FIBITMAP *bitmap,
                       const char *output) {
  int64_t width = ImageWidth(bitmap), height = ImageHeight(bitmap);
  uint64_t available = PlatformAvailableMemory();
  for (int i = 0; i < read; i++) {
    if (options[i].row->size == NULL) continue;
    options[i].row->size(&options[i], &width, &height);
    if (width <= 0 || height <= 0) break;  // the edit itself will say why
    if (EditedImageBytes(bitmap, width, height) > available) {
      char reason[100];
      snprintf(reason, sizeof reason,
               "not enough memory for a %lld x %lld image.",
               (long long)width, (long long)height);
      OptionFailed(&options[i], reason);
    }
  }
  CheckOutput(output, width, height);
}

// The first line is what scripts may match; the second says why.
[[noreturn]] static void InputFailed(const char *path,
                                     const LoadFailure *failure) {
  if (failure->error == kImageNoFormat)
    ErrorExitF("Input file: %s - must end in .jpg, .jpeg, .png or .bmp",
               path);
  if (DebugLevel > 0) LogF("Couldn't open %s: %s", path, failure->reason);
  ErrorExitF("Couldn't open input file: %s\n%s", path, failure->reason);
}

static FIBITMAP *LoadInput(const char *path, LoadFailure *failure,
                           PhotoMetadata *metadata) {
  FIBITMAP *bitmap = LoadImageByName(path, failure, metadata);
  if (bitmap == NULL) InputFailed(path, failure);
  if (failure->warning != kImageSound && DebugLevel > 0)
    LogF("%s is damaged: %s", path, failure->decoder_said);
  return bitmap;
}

// A photo the decoder had to patch up is edited and saved all the same, as
// far as it goes; the user hears of it once, after the save, so that a
// batch run on Windows, where this is a box, still gets its file.
static void TellOfDamage(const char *path, const LoadFailure *failure) {
  if (failure->warning == kImageSound) return;
  char text[kMessageBufferSize];
  snprintf(text, sizeof text,
           "Warning: %.200s is damaged: %s The rest of the picture was "
           "edited and saved.\n(The JPEG decoder said: %.150s.)",
           path,
           failure->warning == kImageEndsEarly
               ? "its data ends early, so part of the picture is missing "
                 "(grey or blurred)."
               : "some of its data could not be read and was skipped.",
           failure->decoder_said);
  WarningBox(text);
}

// The last -o counts; without one, the input is saved over.
static const char *OutputNamedLast(const OptionRead *options, int read,
                                   const char *input) {
  for (int i = read - 1; i >= 0; i--)
    if (options[i].row->apply == SetOutput) return options[i].words[1];
  return input;
}

// The outermost folder on the output's path that does not exist (new heap
// text), or NULL.
static char *MissingFolder(const char *output) {
  char *folder = FolderOfPath(output);
  if (FolderExists(folder)) {
    free(folder);
    return NULL;
  }
  for (;;) {
    char *above = FolderOfPath(folder);
    int top = strcmp(above, folder) == 0 || FolderExists(above);
    if (top) {
      free(above);
      return folder;
    }
    free(folder);
    folder = above;
  }
}

// The system's reason for a missing folder ("No such file or directory.")
// doesn't say which; this does. Asked only once the save has failed, so a
// folder that can't be listed but can be written to is never refused.
[[noreturn]] static void SaveFailed(const char *output,
                                    const SaveFailure *failure) {
  char reason[kMessageBufferSize];
  char *missing = MissingFolder(output);
  if (missing != NULL)
    snprintf(reason, sizeof reason, "The folder %.300s does not exist.",
             missing);
  else
    snprintf(reason, sizeof reason, "%s", failure->reason);
  free(missing);
  if (DebugLevel > 0) LogF("Couldn't save %s: %s", output, reason);
  ErrorExitF("Couldn't save output file: %s\n%s", output, reason);
}

// The metadata is told what the edits made of the picture, once, then
// placed into the output.
static void SaveOutput(EditState *state) {
  MetadataChanges changes = {state->geometry, ImageWidth(state->current),
                             ImageHeight(state->current), state->upright,
                             state->strip, 0, 0};
  ImageDotsPerInch(state->current, &changes.dpi_x, &changes.dpi_y);
  SettleMetadata(&state->metadata, &changes);
  SaveFailure failure;
  if (!SaveImageByName(state->current, state->output, state->quality,
                       &failure, &state->metadata))
    SaveFailed(state->output, &failure);
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

// A last word that is no photo's name: the photo named first, as other
// tools take it, or left out after an option or a value. 0 after the usage,
// which says so; 1 to go on (any other name is judged by the load).
static int PhotoNamedLast(int count, char **entries) {
  const char *last = entries[count - 1];
  if (ImageFormatOf(last) != kFormatNone) return 1;
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
  else if (row != NULL || IsWholeNumber(last) || IsPlainDecimal(last))
    snprintf(why, sizeof why, "No file given: name the photo last, after %s.",
             typed);
  else
    return 1;
  ShowUsageForMistake(why);
  return 0;
}

// Whether -lossless is among the options, found before the photo is read:
// it decides whether the photo is decoded at all.
static int AsksLossless(int count, char **entries) {
  for (int i = 1; i < count - 1; i++) {
    const EditOption *row = FindEditOption(entries[i]);
    if (row != NULL && row->apply == KeepCompression) return 1;
    if (row != NULL) i += row->values;
  }
  return 0;
}

// The coded blocks keep their own quality, so one asked for is a slip. 0
// after the usage.
static int NoQualityAsked(const OptionRead *options, int read) {
  for (int i = 0; i < read; i++) {
    if (options[i].row->apply != SetQuality) continue;
    char typed[200];
    DescribeOption(typed, sizeof typed, &options[i]);
    return Misread(typed, "-lossless keeps the photo's own quality");
  }
  return 1;
}

// With -lossless the photo's bytes are read, never decoded, and the edits
// are done on its coded blocks; the same slips end the run with the usage.
static int RunLosslessCommand(int count, char **entries) {
  const char *input = entries[count - 1];
  LosslessSource source;
  LoadFailure failure;
  if (!ReadLosslessSource(input, &source, &failure))
    InputFailed(input, &failure);
  OptionRead *options = (OptionRead *)ReallocOrExit(
      NULL, (size_t)count, sizeof(OptionRead), "Out of memory");
  int read = ReadOptions(count, entries, options);
  int understood = read >= 0 && NoQualityAsked(options, read);
  if (understood) {
    const char *output = OutputNamedLast(options, read, input);
    CheckOutput(output, 0, 0);
    NoteOrientations(options, read, source.orientation);
    SaveFailure save_failure;
    if (!RunLossless(options, read, &source, input, output, &save_failure))
      SaveFailed(output, &save_failure);
  }
  free(options);
  ReleaseLosslessSource(&source);
  return understood ? 0 : 1;
}

int RunCommand(int count, char **entries) {
  if (count == 2 && RunSpecialCommand(&count, entries)) return 0;
  if (count <= 1) {
    ShowUsageForMistake("No file given: name the image to edit last.");
    return 1;
  }
  if (!PhotoNamedLast(count, entries)) return 1;
  if (AsksLossless(count, entries)) return RunLosslessCommand(count, entries);
  const char *input = entries[count - 1];
  LoadFailure loaded;
  EditState state = {NULL, {}, input, kDefaultQuality, 0, 0, 0};
  state.current = LoadInput(input, &loaded, &state.metadata);
  OptionRead *options = (OptionRead *)ReallocOrExit(
      NULL, (size_t)count, sizeof(OptionRead), "Out of memory");
  int read = ReadOptions(count, entries, options);
  const char *output =
      read < 0 ? input : OutputNamedLast(options, read, input);
  if (read < 0 || !QualitiesFit(options, read, output)) {  // usage shown
    free(options);
    ReleaseImage(state.current);
    ReleasePhotoMetadata(&state.metadata);
    return 1;
  }
  NoteOrientations(options, read, MetadataOrientation(&state.metadata));
  CheckSizes(options, read, state.current, output);
  for (int i = 0; i < read; i++) options[i].row->apply(&options[i], &state);
  SaveOutput(&state);
  TellOfDamage(input, &loaded);
  free(options);
  ReleaseImage(state.current);
  ReleasePhotoMetadata(&state.metadata);
  return 0;
}
