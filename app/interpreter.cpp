#include "app/interpreter.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/cmdline.h"
#include "app/messages.h"
#include "app/process.h"
#include "image/imagefile.h"
#include "lib/strings.h"
#include "log/log.h"

struct EditState {
  FIBITMAP *current;
  const char *output;  // borrowed from the argument vector
  int quality;
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

// The option and its values as the user typed them, for messages.
static void DescribeOption(char *buffer, size_t size, char **option,
                           int values) {
  size_t used = (size_t)snprintf(buffer, size, "%s", option[0]);
  for (int i = 1; i <= values && used < size; i++)
    used += (size_t)snprintf(buffer + used, size - used, " %s", option[i]);
}

[[noreturn]] static void OptionFailed(char **option, int values,
                                      const char *reason) {
  char described[200];
  DescribeOption(described, sizeof described, option, values);
  ErrorExitF("Option %s failed: %s", described, reason);
}

// Takes the bitmap an edit produced in place of the current one. An edit
// that produced none ends the run: there is nothing sound left to save.
static void Replace(EditState *state, FIBITMAP *next, char **option,
                    int values, const char *reason) {
  if (next == NULL) OptionFailed(option, values, reason);
  ReleaseImage(state->current);
  state->current = next;
}

static void Crop(char **option, int values, EditState *state) {
  Replace(
      state,
      CropImage(state->current, NumberValue(option[1]), NumberValue(option[2]),
                NumberValue(option[3]), NumberValue(option[4])),
      option, values, "the rectangle must lie inside the image.");
}

static void Rotate(char **option, int values, EditState *state) {
  Replace(state, RotateImage(state->current, DecimalValue(option[1])), option,
          values, "the image can't be rotated.");
}

// A flip works in place and may fail (out of memory) with the image left as
// it was; saving that as the result would pass off the unflipped photo.
static void EndUnlessFlipped(int flipped, char **option, int values) {
  if (!flipped) OptionFailed(option, values, "the image can't be flipped.");
}

static void FlipHorizontal(char **option, int values, EditState *state) {
  EndUnlessFlipped(FlipImageHorizontal(state->current), option, values);
}

static void FlipVertical(char **option, int values, EditState *state) {
  EndUnlessFlipped(FlipImageVertical(state->current), option, values);
}

static void SetOutput(char **option, int, EditState *state) {
  state->output = option[1];
}

static void SetQuality(char **option, int, EditState *state) {
  state->quality = NumberValue(option[1]);
}

static void Resize(int width, int height, char **option, int values,
                   EditState *state) {
  Replace(state, ResizeImage(state->current, width, height), option, values,
          "the image can't be resized to that size.");
}

static void ResizeToWidth(char **option, int values, EditState *state) {
  Resize(NumberValue(option[1]), 0, option, values, state);
}

static void ResizeToHeight(char **option, int values, EditState *state) {
  Resize(0, NumberValue(option[1]), option, values, state);
}

static void ResizeToWidthHeight(char **option, int values, EditState *state) {
  Resize(NumberValue(option[1]), NumberValue(option[2]), option, values, state);
}

const EditOption EditOptionTable[] = {
    {"-c", 4, Crop},
    {"-r", 1, Rotate},
    {"-fh", 0, FlipHorizontal},
    {"-fv", 0, FlipVertical},
    {"-o", 1, SetOutput},
    {"-oq", 1, SetQuality},
    {"-w", 1, ResizeToWidth},
    {"-h", 1, ResizeToHeight},
    {"-wh", 2, ResizeToWidthHeight},
    {NULL, 0, NULL},
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
    OpenPage(kPageLocalHelp);
    return 1;
  }
  if (strcmp(entries[1], "--version") == 0 ||
      TakeFlag(count, entries, "-ver")) {
    ShowVersion();
    return 1;
  }
  return 0;
}

// Walks the options between the program path and the file name. Returns 0,
// or 1 after the usage box for an unknown option or one short of values.
// The file name is never a value: "-h photo.jpg" typed for help would
// otherwise shrink the photo to a thumbnail and save it over itself.
static int ApplyEditOptions(int count, char **entries, EditState *state) {
  int last = count - 1;  // the file name, never an option nor a value
  for (int position = 1; position < last;) {
    const EditOption *row = FindEditOption(entries[position]);
    if (row == NULL || position + row->values >= last) {
      ShowUsage();
      return 1;
    }
    row->apply(entries + position, row->values, state);
    position += 1 + row->values;
  }
  return 0;
}

// A file refused before loading says why in the log, for whoever debugs it.
static FIBITMAP *LoadInput(const char *path) {
  LoadFailure failure;
  FIBITMAP *bitmap = LoadImageByName(path, &failure);
  if (failure.error == kImageNoFormat)
    ErrorExitF("Input file: %s - must end in .jpg or .jpeg", path);
  if (bitmap == NULL) {
    if (DebugLevel > 0) LogF("Couldn't open %s: %s", path, failure.reason);
    ErrorExitF("Couldn't open input file: %s", path);
  }
  return bitmap;
}

static void SaveOutput(const EditState *state) {
  if (ImageFormatOf(state->output) == kFormatNone)
    ErrorExitF("Save: file (%s) - must end in .jpg, .jpeg or .bmp",
               state->output);
  if (!SaveImageByName(state->current, state->output, state->quality))
    ErrorExitF("Couldn't save output file: %s", state->output);
}

int RunCommand(int count, char **entries) {
  if (count == 2 && RunSpecialCommand(&count, entries)) return 0;
  if (count <= 1) {
    ShowUsage();
    return 1;
  }
  const char *input = entries[count - 1];
  EditState state = {LoadInput(input), input, 100};
  int status = ApplyEditOptions(count, entries, &state);
  if (status == 0) SaveOutput(&state);
  ReleaseImage(state.current);
  return status;
}
