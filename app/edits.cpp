#include "app/edits.h"

#include <stdio.h>
#include <string.h>

#include "image/imagefile.h"

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
void Crop(const OptionRead *option, EditState *state) {
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

void CroppedSize(const OptionRead *option, int64_t *width, int64_t *height) {
  const int *v = option->whole;
  CropTarget(*width, *height, v[0], v[1], v[2], v[3], width, height);
}

void Rotate(const OptionRead *option, EditState *state) {
  Replace(state, RotateImage(state->current, option->angle), option,
          "the image can't be rotated.");
}

void RotatedSize(const OptionRead *option, int64_t *width, int64_t *height) {
  RotateTarget(*width, *height, option->angle, width, height);
}

// A flip works in place and may fail (out of memory) with the image left as
// it was; saving that as the result would pass off the unflipped photo.
static void EndUnlessFlipped(int flipped, const OptionRead *option) {
  if (!flipped) OptionFailed(option, "the image can't be flipped.");
}

void FlipHorizontal(const OptionRead *option, EditState *state) {
  EndUnlessFlipped(FlipImageHorizontal(state->current), option);
  state->geometry = 1;
}

void FlipVertical(const OptionRead *option, EditState *state) {
  EndUnlessFlipped(FlipImageVertical(state->current), option);
  state->geometry = 1;
}

// The output, a folder's name made the photo's name in it, is known before
// any work (OutputNamedLast); -o, wherever it stands, has set it already.
void SetOutput(const OptionRead *, EditState *) {}

const OptionRead *LastOutputOption(const OptionRead *options, int read) {
  for (int i = read - 1; i >= 0; i--)
    if (options[i].row->apply == SetOutput) return &options[i];
  return NULL;
}

void SetQuality(const OptionRead *option, EditState *state) {
  state->quality = option->whole[0];
}

// -lossless decides how the whole run goes (RunLosslessCommand); as an edit
// it does nothing.
void KeepCompression(const OptionRead *, EditState *) {}

// -w and -h are -wh with the other side left to the proportion, unless the
// size was worked out before the decode.
static void ResizeSides(const OptionRead *option, int *width, int *height) {
  if (option->planned_width > 0 && option->planned_height > 0) {
    *width = option->planned_width;
    *height = option->planned_height;
    return;
  }
  const char *name = option->row->name;
  *width = strcmp(name, "-h") == 0 ? 0 : option->whole[0];
  *height = strcmp(name, "-w") == 0    ? 0
            : strcmp(name, "-h") == 0 ? option->whole[0]
                                       : option->whole[1];
}

void SetFilter(const OptionRead *, EditState *) {}

void Resize(const OptionRead *option, EditState *state) {
  int width, height;
  ResizeSides(option, &width, &height);
  Replace(state, ResizeImage(state->current, width, height, option->filter),
          option, "the image can't be resized to that size.");
}

void ResizedSize(const OptionRead *option, int64_t *W, int64_t *H) {
  int width, height;
  ResizeSides(option, &width, &height);
  ResizeTarget(*W, *H, width, height, W, H);
}

// The photo turned as its EXIF orientation says, which is then 1.
void Upright(const OptionRead *option, EditState *state) {
  int geometry = state->geometry;
  Replace(state, UprightImage(state->current, option->orientation), option,
          "the image can't be turned upright.");
  // Whether the turn moved anything is the orientation's to say, and
  // MetadataChangesFor says it for both paths.
  state->geometry = geometry;
  state->upright = 1;
}

void UprightSize(const OptionRead *option, int64_t *width, int64_t *height) {
  UprightTarget(*width, *height, option->orientation, width, height);
}

// Acts on the output wherever it stands, as -o does.
void Strip(const OptionRead *, EditState *state) { state->strip = 1; }

int DescribeEdits(const OptionRead *options, int read, int64_t W, int64_t H,
                  PlannedEdit *edits, int *which) {
  int count = 0;
  for (int i = 0; i < read; i++) {
    EditRoutine *apply = options[i].row->apply;
    PlannedEdit edit = {kPlannedCrop, 0, 0, options[i].angle,
                        options[i].filter, options[i].orientation};
    if (apply == Rotate) edit.kind = kPlannedTurn;
    else if (apply == Resize) edit.kind = kPlannedResize;
    else if (apply == Upright) edit.kind = kPlannedUpright;
    else if (apply == FlipHorizontal || apply == FlipVertical)
      edit.kind = kPlannedFlip;
    else if (apply != Crop) continue;  // no edit of the picture
    if (options[i].row->size != NULL && W > 0 && H > 0)
      options[i].row->size(&options[i], &W, &H);
    edit.width = W;
    edit.height = H;
    edits[count] = edit;
    which[count++] = i;
  }
  return count;
}
