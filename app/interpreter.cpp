#include "app/interpreter.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/cmdline.h"
#include "app/edits.h"
#include "app/lossless.h"
#include "app/messages.h"
#include "app/options.h"
#include "app/process.h"
#include "image/imagefile.h"
#include "image/lossless/transform.h"
#include "image/metadata/record.h"
#include "lib/paths.h"
#include "lib/strings.h"
#include "log/log.h"
#include "platform/platform.h"

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

// The variable a server sets to bound what one photo's job may cost.
static const char kMemoryLimitName[] = "ORVANE_MEMORY_LIMIT";

static unsigned long long MegabytesUp(uint64_t bytes) {
  return (bytes + 999999) / 1000000;
}

// What the user lets one photo's job cost at most; UINT64_MAX when the
// variable is not set. A value that is no count of bytes ends the run
// before the photo is read.
static uint64_t JobMemoryLimit(void) {
  const char *value = PlatformEnvironment(kMemoryLimitName);
  uint64_t bytes;
  if (value == NULL) return UINT64_MAX;
  if (!ByteCountValue(value, &bytes) || bytes == 0)
    ErrorExitF("%s=%.100s is not understood.\nGive it in bytes, or with K, "
               "M or G after the number for thousands, millions or billions "
               "of bytes (100M).",
               kMemoryLimitName, value);
  return bytes;
}

// The variable a server sets to bound the threads one photo's job takes.
static const char kThreadsName[] = "ORVANE_THREADS";

// The threads a resize may work on: the processors the process may use,
// at most as many as the variable allows (1: one thread, as before). A
// value that is no whole number of 1 or more ends the run before the
// photo is read.
static int ResizeThreads(void) {
  int processors = PlatformProcessorCount();
  const char *value = PlatformEnvironment(kThreadsName);
  if (value == NULL) return processors;
  long asked = IsWholeNumber(value) ? strtol(value, NULL, 10) : 0;
  if (asked < 1)
    ErrorExitF("%s=%.100s is not understood.\nGive the most threads one "
               "photo may use, a whole number from 1 (1: one thread).",
               kThreadsName, value);
  return asked < processors ? (int)asked : processors;
}

// Works out the size after each edit, starting from a width x height
// picture of bits a pixel, and ends the run before any work when one
// would need more than may be spent: its new picture more than free, or
// that and the picture before it, both held while it works, more than the
// user's limit. Gives the size the edits leave.
static void CheckEdits(const OptionRead *options, int read, int64_t *width,
                       int64_t *height, int bits, uint64_t free,
                       uint64_t limit) {
  uint64_t held = PictureBytes(bits, *width, *height);
  for (int i = 0; i < read; i++) {
    if (options[i].row->size == NULL) continue;
    options[i].row->size(&options[i], width, height);
    if (*width <= 0 || *height <= 0) return;  // the edit itself will say why
    uint64_t made = EditedPictureBytes(bits, *width, *height);
    char reason[160] = "";
    if (made > free)
      snprintf(reason, sizeof reason,
               "not enough memory for a %lld x %lld image.",
               (long long)*width, (long long)*height);
    else if (made > limit || held > limit - made)
      snprintf(reason, sizeof reason,
               "its %lld x %lld image and the one before it take %llu MB; "
               "%s allows %llu MB.",
               (long long)*width, (long long)*height,
               MegabytesUp(held + made), kMemoryLimitName,
               (unsigned long long)(limit / 1000000));
    if (reason[0] != '\0') OptionFailed(&options[i], reason);
    held = made;
    if (bits < 24) bits = 24;
  }
}

// Works out the size after each edit and ends the run before any work when
// one would need more memory than the machine can give now, or the output
// could not hold the result.
static void CheckSizes(const OptionRead *options, int read, FIBITMAP *bitmap,
                       const char *output) {
  int64_t width = ImageWidth(bitmap), height = ImageHeight(bitmap);
  CheckEdits(options, read, &width, &height, ImageBits(bitmap),
             PlatformAvailableMemory(), UINT64_MAX);
  CheckOutput(output, width, height);
}

// The first line is what scripts may match; the second says why. A folder
// named last, as other tools take one, is no photo of an unknown format.
[[noreturn]] static void InputFailed(const char *path,
                                     const LoadFailure *failure) {
  if (failure->error == kImageNoFormat && FolderExists(path))
    ErrorExitF("Couldn't open input file: %s\n%.200s is a folder; Orvane "
               "edits one photo a run, named last.",
               path, path);
  if (failure->error == kImageNoFormat)
    ErrorExitF("Input file: %s - must end in .jpg, .jpeg, .png or .bmp",
               path);
  if (DebugLevel > 0) LogF("Couldn't open %s: %s", path, failure->reason);
  ErrorExitF("Couldn't open input file: %s\n%s", path, failure->reason);
}

// A photo whose edits begin with a resize to at most a third of its size is
// decoded at a fraction of it, keeping at least a margin of the resize's
// size on each side: a JPEG's decoder then skips most of its work. The
// resize's size is worked out on the full size, so the output's size is
// the same either way. The margins are measured (bench/margins, table in
// docs/benchmarks.md): the smallest that keeps each filter within 0.3 dB
// of its own full decode's picture on every mate-backgrounds photo made
// 800 or 1600 wide or 200 high. A sharp filter shows the reduced decode's
// softness, so it needs more. Lanczos's full decode is the measure's
// reference itself, which no reduced decode meets; it keeps twice the
// size, where it is level with vipsthumbnail's picture or above (one and
// a half times fell 10 to 13 dB short). B-spline keeps three times, as
// before any other filter could be chosen: its pictures stay as they
// were, though four would keep a photo of flowers made 200 high within
// 0.1 dB where three lose 0.76.
static const struct {
  ResizeFilter filter;
  int margin;
} kReducedMargins[] = {
    {kFilterBox, 8},        {kFilterBilinear, 5}, {kFilterBicubic, 4},
    {kFilterCatmullRom, 6}, {kFilterLanczos3, 2}, {kFilterBSpline, 3},
};

static int ReducedMargin(ResizeFilter filter) {
  for (const auto &row : kReducedMargins)
    if (row.filter == filter) return row.margin;
  return 8;  // unmeasured: hardly ever reduced
}

static int ShrinkOnLoad(OptionRead *options, int read,
                        const OpenedImage *image) {
  int64_t width, height;
  int sideways;
  OptionRead *resize = FirstResize(options, read, image->width, image->height,
                                   &width, &height, &sideways);
  if (resize == NULL || width <= 0 || height <= 0) return 1;
  int margin = ReducedMargin(resize->filter);
  int64_t across = margin * (sideways ? height : width);
  int64_t down = margin * (sideways ? width : height);
  int reduction = LargestReduction(image, across, down);
  if (reduction > 1) {
    resize->planned_width = (int)width;
    resize->planned_height = (int)height;
  }
  return reduction;
}

// With a limit set, the whole job is judged before any pixel is decoded:
// the decode, at the fraction of its size it is decoded at, then each
// edit, as its size and the photo's depth predict.
static void CheckJobCost(const char *input, const OptionRead *options,
                         int read, const OpenedImage *image, int reduction,
                         uint64_t limit) {
  if (limit == UINT64_MAX) return;
  DecodeForecast forecast;
  ForecastDecode(image, reduction, &forecast);
  if (forecast.bytes > limit) {
    LoadFailure failure = {kImageTooLarge, "", kImageSound, ""};
    snprintf(failure.reason, sizeof failure.reason,
             "Loading it takes %llu MB; %s allows %llu MB.",
             MegabytesUp(forecast.bytes), kMemoryLimitName,
             (unsigned long long)(limit / 1000000));
    InputFailed(input, &failure);
  }
  if (forecast.bits > 0)
    CheckEdits(options, read, &forecast.width, &forecast.height,
               forecast.bits, UINT64_MAX, limit);
}

// The opened photo is decoded, then closed.
static FIBITMAP *DecodeInput(const char *path, OpenedImage *image,
                             int reduction, const PhotoMetadata *metadata,
                             LoadFailure *failure) {
  FIBITMAP *bitmap = DecodeOpenedImage(image, reduction, metadata, failure);
  CloseImage(image);
  if (bitmap == NULL) InputFailed(path, failure);
  if (DebugLevel > 0 && reduction > 1)
    LogF("%s decoded at 1/%d of its size for the resize", path, reduction);
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
                             state->strip, 0, 0,
                             LargestExifBlock(ImageFormatOf(state->output))};
  ImageDotsPerInch(state->current, &changes.dpi_x, &changes.dpi_y);
  SettleMetadata(&state->metadata, &changes);
  SaveFailure failure;
  if (!SaveImageByName(state->current, state->output, state->quality,
                       &failure, &state->metadata))
    SaveFailed(state->output, &failure);
}

// With -lossless the photo's bytes are read, never decoded, and the edits
// are done on its coded blocks; the same slips end the run with the usage.
static int RunLosslessCommand(int count, char **entries, uint64_t limit) {
  const char *input = entries[count - 1];
  LosslessSource source;
  LoadFailure failure;
  if (!ReadLosslessSource(input, &source, &failure))
    InputFailed(input, &failure);
  if (source.cost > limit) {
    failure = LoadFailure{kImageTooLarge, "", kImageSound, ""};
    snprintf(failure.reason, sizeof failure.reason,
             "The lossless transform takes %llu MB; %s allows %llu MB.",
             MegabytesUp(source.cost), kMemoryLimitName,
             (unsigned long long)(limit / 1000000));
    ReleaseLosslessSource(&source);
    InputFailed(input, &failure);
  }
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
  uint64_t limit = JobMemoryLimit();
  SetImageWorkers(ResizeThreads());
  if (AsksLossless(count, entries))
    return RunLosslessCommand(count, entries, limit);
  const char *input = entries[count - 1];
  LoadFailure loaded;
  OpenedImage image;
  EditState state = {NULL, {}, input, kDefaultQuality, 0, 0, 0};
  if (!OpenImageByName(input, &image, &loaded, &state.metadata))
    InputFailed(input, &loaded);
  OptionRead *options = (OptionRead *)ReallocOrExit(
      NULL, (size_t)count, sizeof(OptionRead), "Out of memory");
  int read = ReadOptions(count, entries, options);
  const char *output =
      read < 0 ? input : OutputNamedLast(options, read, input);
  state.output = output;
  if (read < 0 || !QualitiesFit(options, read, output)) {  // slip shown
    free(options);
    CloseImage(&image);
    ReleasePhotoMetadata(&state.metadata);
    return 1;
  }
  NoteOrientations(options, read, MetadataOrientation(&state.metadata));
  int reduction = ShrinkOnLoad(options, read, &image);
  CheckJobCost(input, options, read, &image, reduction, limit);
  state.current =
      DecodeInput(input, &image, reduction, &state.metadata, &loaded);
  CheckSizes(options, read, state.current, output);
  for (int i = 0; i < read; i++) options[i].row->apply(&options[i], &state);
  SaveOutput(&state);
  TellOfDamage(input, &loaded);
  free(options);
  ReleaseImage(state.current);
  ReleasePhotoMetadata(&state.metadata);
  return 0;
}
