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
#include "image/lossless.h"
#include "image/metadata.h"
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

const char kCropOutsideImage[] = "the rectangle must lie inside the image.";

static void Crop(const OptionRead *option, EditState *state) {
  const int *v = option->whole;
  Replace(state, CropImage(state->current, v[0], v[1], v[2], v[3]), option,
          kCropOutsideImage);
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
    {"-c", 4, kWholeNumbers, Crop, CroppedSize},
    {"-r", 1, kAngle, Rotate, RotatedSize},
    {"-fh", 0, kNoValues, FlipHorizontal, NULL},
    {"-fv", 0, kNoValues, FlipVertical, NULL},
    {"-o", 1, kText, SetOutput, NULL},
    {"-oq", 1, kWholeNumbers, SetQuality, NULL},
    {"-lossless", 0, kNoValues, KeepCompression, NULL},
    {"-w", 1, kWholeNumbers, Resize, ResizedSize},
    {"-h", 1, kWholeNumbers, Resize, ResizedSize},
    {"-wh", 2, kWholeNumbers, Resize, ResizedSize},
    {"-upright", 0, kNoValues, Upright, UprightSize},
    {"-strip", 0, kNoValues, Strip, NULL},
    {NULL, 0, kNoValues, NULL, NULL},
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

static FIBITMAP *LoadInput(const char *path, PhotoMetadata *metadata) {
  LoadFailure failure;
  FIBITMAP *bitmap = LoadImageByName(path, &failure, metadata);
  if (bitmap == NULL) InputFailed(path, &failure);
  return bitmap;
}

// The last -o counts; without one, the input is saved over.
static const char *OutputNamedLast(const OptionRead *options, int read,
                                   const char *input) {
  for (int i = read - 1; i >= 0; i--)
    if (options[i].row->apply == SetOutput) return options[i].words[1];
  return input;
}

[[noreturn]] static void SaveFailed(const char *output,
                                    const SaveFailure *failure) {
  if (DebugLevel > 0) LogF("Couldn't save %s: %s", output, failure->reason);
  ErrorExitF("Couldn't save output file: %s\n%s", output, failure->reason);
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
  if (AsksLossless(count, entries)) return RunLosslessCommand(count, entries);
  const char *input = entries[count - 1];
  EditState state = {NULL, {}, input, 100, 0, 0, 0};
  state.current = LoadInput(input, &state.metadata);
  OptionRead *options = (OptionRead *)ReallocOrExit(
      NULL, (size_t)count, sizeof(OptionRead), "Out of memory");
  int read = ReadOptions(count, entries, options);
  if (read < 0) {  // the usage is shown
    free(options);
    ReleaseImage(state.current);
    ReleasePhotoMetadata(&state.metadata);
    return 1;
  }
  NoteOrientations(options, read, MetadataOrientation(&state.metadata));
  CheckSizes(options, read, state.current,
             OutputNamedLast(options, read, input));
  for (int i = 0; i < read; i++) options[i].row->apply(&options[i], &state);
  SaveOutput(&state);
  free(options);
  ReleaseImage(state.current);
  ReleasePhotoMetadata(&state.metadata);
  return 0;
}
