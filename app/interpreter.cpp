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
#include "image/load/plan.h"
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

// Works out the size after each edit of the decoded picture and ends the
// run before any work when one would need more memory than the machine can
// give now, or the output could not hold the result.
static void CheckSizes(const OptionRead *options, int read, FIBITMAP *bitmap,
                       const char *output) {
  int64_t width = ImageWidth(bitmap), height = ImageHeight(bitmap);
  int bits = ImageBits(bitmap);
  uint64_t free = PlatformAvailableMemory();
  for (int i = 0; i < read; i++) {
    if (options[i].row->size == NULL) continue;
    options[i].row->size(&options[i], &width, &height);
    if (width <= 0 || height <= 0) break;  // the edit itself will say why
    if (EditedPictureBytes(bits, width, height) > free) {
      char reason[160];
      snprintf(reason, sizeof reason,
               "not enough memory for a %lld x %lld image.",
               (long long)width, (long long)height);
      OptionFailed(&options[i], reason);
    }
    if (bits < 24) bits = 24;
  }
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

// Ends the run with the figures when the plan finds the job too costly
// for the limit; the edit refused is edits[k], the option of which[k].
static void RefuseOverLimit(const DecodePlan *plan, const char *input,
                            const char *output, OptionRead *options,
                            const PlannedEdit *edits, const int *which,
                            uint64_t limit) {
  unsigned long long takes = MegabytesUp(plan->refused_bytes),
                     allows = (unsigned long long)(limit / 1000000);
  if (plan->refusal == kPlanDecodeTooCostly) {
    LoadFailure failure = {kImageTooLarge, "", kImageSound, ""};
    snprintf(failure.reason, sizeof failure.reason,
             "Loading it takes %llu MB; %s allows %llu MB.", takes,
             kMemoryLimitName, allows);
    InputFailed(input, &failure);
  }
  if (plan->refusal == kPlanEditTooCostly) {
    const PlannedEdit *edit = &edits[plan->refused_edit];
    char reason[200];
    snprintf(reason, sizeof reason,
             "its %lld x %lld image, the one before it and the library's "
             "working copies take %llu MB; %s allows %llu MB.",
             (long long)edit->width, (long long)edit->height, takes,
             kMemoryLimitName, allows);
    OptionFailed(&options[which[plan->refused_edit]], reason);
  }
  if (plan->refusal == kPlanSaveTooCostly)
    ErrorExitF("Couldn't save output file: %s\nWriting it takes %llu MB; "
               "%s allows %llu MB.",
               output, takes, kMemoryLimitName, allows);
}

// The decode is planned from what the user asked: the edits, the output's
// format and the limit. With a limit set, a job the plan finds too costly
// ends here, before any pixel is decoded; the resize done on a reduced
// decode is given the size worked out on the whole photo. Gives the
// reduction.
static int PlanJob(const char *input, const char *output, OptionRead *options,
                   int read, const OpenedImage *image,
                   const PhotoMetadata *metadata, uint64_t limit) {
  PlannedEdit *edits = (PlannedEdit *)ReallocOrExit(
      NULL, (size_t)read + 1, sizeof(PlannedEdit), "Out of memory");
  int *which = (int *)ReallocOrExit(NULL, (size_t)read + 1, sizeof(int),
                                    "Out of memory");
  int count = DescribeEdits(options, read, image->width, image->height, edits,
                            which);
  DecodePlan plan;
  PlanDecode(image, metadata, edits, count, ImageFormatOf(output), limit,
             &plan);
  RefuseOverLimit(&plan, input, output, options, edits, which, limit);
  if (plan.first_resize >= 0) {
    OptionRead *resize = &options[which[plan.first_resize]];
    resize->planned_width = (int)plan.resize_width;
    resize->planned_height = (int)plan.resize_height;
  }
  free(edits);
  free(which);
  return plan.reduction;
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
           "Warning: %.170s is damaged: %s The rest of the picture was "
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
  EditsDone done = {};
  done.moved = state->geometry;
  done.width = ImageWidth(state->current);
  done.height = ImageHeight(state->current);
  done.upright = state->upright;
  done.strip = state->strip;
  ImageDotsPerInch(state->current, &done.dpi_x, &done.dpi_y);
  done.output = ImageFormatOf(state->output);
  done.components = 0;  // the writer writes the bitmap's own profile
  MetadataChanges changes = MetadataChangesFor(&state->metadata, &done);
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
  int reduction =
      PlanJob(input, output, options, read, &image, &state.metadata, limit);
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
