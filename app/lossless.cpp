#include "app/lossless.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/edits.h"
#include "image/imagefile.h"
#include "image/lossless/transform.h"
#include "lib/report.h"

// The chain so far, what becomes of the metadata, and the options to blame
// for what only the whole chain shows.
struct LosslessRun {
  LosslessChain chain;
  LosslessMarkers markers;
  const OptionRead *last_turn;  // the last turn or flip: partial blocks
  const OptionRead *last_crop;  // a crop off the block grid
};

[[noreturn]] __attribute__((format(printf, 2, 3))) static void Refuse(
    const char *subject, const char *format, ...) {
  char cause[kMessageBufferSize];
  va_list values;
  va_start(values, format);
  vsnprintf(cause, sizeof cause, format, values);
  va_end(values);
  ErrorExitF(
      "%s can't be done losslessly: %s\n"
      "Without -lossless the photo is re-encoded.",
      subject, cause);
}

struct Subject {
  char text[200];
};

static Subject OptionSubject(const OptionRead *option) {
  Subject subject;
  char described[180];
  DescribeOption(described, sizeof described, option);
  snprintf(subject.text, sizeof subject.text, "Option %s", described);
  return subject;
}

void ComposeCrop(const OptionRead *option, LosslessRun *run) {
  const int *v = option->whole;
  int64_t width, height;
  ChainSize(&run->chain, &width, &height);
  if (!ChainCrop(&run->chain, v[0], v[1], v[2], v[3])) {
    char reason[200];
    CropRefusal(reason, sizeof reason, width, height, v);
    OptionFailed(option, reason);
  }
  run->last_crop = option;
}

void ComposeTurn(const OptionRead *option, LosslessRun *run) {
  int64_t width, height;
  ChainSize(&run->chain, &width, &height);
  int quarters = QuarterTurnsOf(option->angle, width, height);
  if (quarters < 0)
    Refuse(OptionSubject(option).text,
           "it turns by %s degrees; only quarter turns (multiples of 90) "
           "move the photo's coded blocks as they are.",
           option->words[1]);
  ChainTurn(&run->chain, quarters);
  run->last_turn = option;
}

void ComposeFlipHorizontal(const OptionRead *option, LosslessRun *run) {
  ChainFlipHorizontal(&run->chain);
  run->last_turn = option;
}

void ComposeFlipVertical(const OptionRead *option, LosslessRun *run) {
  ChainFlipVertical(&run->chain);
  run->last_turn = option;
}

void ComposeUpright(const OptionRead *option, LosslessRun *run) {
  ChainUpright(&run->chain, option->orientation);
  run->markers.upright = 1;
  if (option->orientation > 1) run->last_turn = option;
}

void ComposeStrip(const OptionRead *, LosslessRun *run) {
  run->markers.strip = 1;
}

const char kResizeNotLossless[] =
    "a resize makes new pixels; only quarter turns, flips and crops move the "
    "photo's coded blocks as they are.";
const char kQualityNotLossless[] = "-lossless keeps the photo's own quality";

void ComposeNothing(const OptionRead *, LosslessRun *) {}

static void Compose(const OptionRead *option, LosslessRun *run) {
  const EditOption *row = option->row;
  if (row->lossless_why_not != NULL)
    Refuse(OptionSubject(option).text, "%s", row->lossless_why_not);
  row->compose(option, run);
}

// The photo and the output must both be JPEG: only then are there coded
// blocks to move, and somewhere to put them.
static void RefuseOtherFormats(const LosslessSource *source, const char *input,
                               const OptionRead *options, int read,
                               const char *output) {
  Subject on_input;
  snprintf(on_input.text, sizeof on_input.text, "The edits on %s", input);
  if (source->format != kFormatJpeg)
    Refuse(on_input.text, "it holds a %s image, not a JPEG.",
           source->format == kFormatPng ? "PNG" : "BMP");
  if (ImageFormatOf(output) == kFormatJpeg) return;
  const OptionRead *named = LastOutputOption(options, read);
  Refuse(named ? OptionSubject(named).text : on_input.text,
         "the output %s would not be a JPEG; only a JPEG keeps the photo's "
         "coded blocks as they are.",
         output);
}

// The chain of the options as read, with the crop moved to (x, y); 0 when
// the moved crop reaches outside the picture. The other options composed
// once already, so none of them refuses here.
static int ComposeWithCropAt(const OptionRead *options, int read,
                             const LosslessSource *source,
                             const OptionRead *crop, int x, int y,
                             LosslessRun *run) {
  *run = LosslessRun{};
  StartChain(&run->chain, source->width, source->height);
  for (int i = 0; i < read; i++) {
    if (&options[i] != crop) {
      Compose(&options[i], run);
      continue;
    }
    const int *v = crop->whole;
    if (!ChainCrop(&run->chain, x, y, v[2], v[3])) return 0;
    run->last_crop = crop;
  }
  return 1;
}

// The start nearest the typed one, less than a block away, from which the
// same line is exact. Tried rather than worked out, since the edits before
// and after the crop turn and mirror its numbers. 0 when none is.
static int NearestCropOnGrid(const OptionRead *options, int read,
                             const LosslessSource *source,
                             const OptionRead *crop, const LosslessPlan *plan,
                             int *x, int *y) {
  int reach = plan->grid_width > plan->grid_height ? plan->grid_width
                                                   : plan->grid_height;
  for (int distance = 1; distance < reach; distance++) {
    for (int dy = -distance; dy <= distance; dy++) {
      for (int dx = -distance; dx <= distance; dx++) {
        if (abs(dx) != distance && abs(dy) != distance) continue;
        LosslessRun trial;
        LosslessPlan tried;
        int tx = crop->whole[0] + dx, ty = crop->whole[1] + dy;
        if (!ComposeWithCropAt(options, read, source, crop, tx, ty, &trial))
          continue;
        PlanLossless(&trial.chain, source->block_width, source->block_height,
                     &tried);
        if (tried.fit != kFitExact) continue;
        *x = tx;
        *y = ty;
        return 1;
      }
    }
  }
  return 0;
}

static void RefuseInexact(const LosslessRun *run, const LosslessPlan *plan,
                          const OptionRead *options, int read,
                          const LosslessSource *source) {
  if (plan->fit == kFitPartialBlocks) {
    const Rectangle &kept = run->chain.kept;
    int right = kept.x + kept.w > plan->whole_width;
    int bottom = kept.y + kept.h > plan->whole_height;
    Refuse(OptionSubject(run->last_turn).text,
           "the photo's %s edge%s cut%s through its coded blocks, and the "
           "edits would move %s; a first -c 0 0 %lld %lld leaves those "
           "blocks out.",
           right && bottom ? "right and bottom"
           : right         ? "right"
                           : "bottom",
           right && bottom ? "s" : "", right && bottom ? "" : "s",
           right && bottom ? "them" : "it", (long long)plan->whole_width,
           (long long)plan->whole_height);
  }
  if (plan->fit != kFitOffGrid) return;
  // The grid lies in the picture as stored, so its numbers mean little in
  // the picture the user cropped; a crop that works says it plainly.
  const OptionRead *crop = run->last_crop;
  int x, y;
  if (NearestCropOnGrid(options, read, source, crop, plan, &x, &y))
    Refuse(OptionSubject(crop).text,
           "the result must begin on the photo's grid of coded blocks, "
           "%d x %d pixels as stored; -c %d %d %s %s would.",
           plan->grid_width, plan->grid_height, x, y, crop->words[3],
           crop->words[4]);
  Refuse(OptionSubject(crop).text,
         "the result must begin on the photo's grid of coded blocks, %d x %d "
         "pixels as stored.",
         plan->grid_width, plan->grid_height);
}

int RunLossless(const OptionRead *options, int read,
                LosslessSource *source, const char *input,
                const char *output, SaveFailure *failure) {
  RefuseOtherFormats(source, input, options, read, output);
  LosslessRun run = {};
  StartChain(&run.chain, source->width, source->height);
  for (int i = 0; i < read; i++) Compose(&options[i], &run);
  LosslessPlan plan;
  PlanLossless(&run.chain, source->block_width, source->block_height, &plan);
  RefuseInexact(&run, &plan, options, read, source);
  return SaveLosslessly(source, &plan, &run.markers, output, failure);
}
