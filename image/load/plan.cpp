#include "image/load/plan.h"

#include <math.h>

#include "image/imagefile.h"
#include "image/load/cost.h"
#include "image/metadata/record.h"

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

// A turn of a W x H picture by a multiple of 90 degrees, as the turn itself
// judges one: 1 when it lays the picture on its side, 0 when it leaves it
// upright or upside down, -1 for any other angle.
static int QuarterTurnSideways(double angle, int64_t W, int64_t H) {
  int quarters = QuarterTurnsOf(angle, W, H);
  return quarters < 0 ? -1 : quarters % 2;
}

// The resize the edits begin with, when nothing comes before it but flips,
// quarter turns and -upright, all of which could as well come after it;
// -1 otherwise. *sideways: those edits lay the photo on its side.
static int FirstResize(const PlannedEdit *edits, int count, int64_t W,
                       int64_t H, int *sideways) {
  *sideways = 0;
  for (int i = 0; i < count; i++) {
    int turns = 0;
    if (i > 0) {
      W = edits[i - 1].width;
      H = edits[i - 1].height;
    }
    switch (edits[i].kind) {
      case kPlannedResize:
        return i;
      case kPlannedTurn:
        turns = QuarterTurnSideways(edits[i].angle, W, H);
        if (turns < 0) return -1;
        break;
      case kPlannedUpright:
        turns = edits[i].orientation >= 5;
        break;
      case kPlannedFlip:
        break;
      default:
        return -1;  // a crop
    }
    if (turns) *sideways = !*sideways;
  }
  return -1;
}

static void ChooseReduction(const OpenedImage *image, const PlannedEdit *edits,
                            int count, DecodePlan *plan) {
  int sideways;
  int first =
      FirstResize(edits, count, image->width, image->height, &sideways);
  if (first < 0 || edits[first].width <= 0 || edits[first].height <= 0)
    return;
  const PlannedEdit *resize = &edits[first];
  int margin = ReducedMargin(resize->filter);
  int64_t across = margin * (sideways ? resize->height : resize->width);
  int64_t down = margin * (sideways ? resize->width : resize->height);
  plan->reduction = LargestReduction(image, across, down);
  if (plan->reduction <= 1) return;
  plan->first_resize = first;
  plan->resize_width = resize->width;
  plan->resize_height = resize->height;
  plan->resize_filter = resize->filter;
}

// A bitmap's pixels as the library allocates them: rows padded to 4 bytes.
static uint64_t Pixels(int bits, int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return 0;
  long double bytes =
      (long double)(((uint64_t)width * bits + 31) / 32 * 4) * height;
  return bytes >= (long double)UINT64_MAX / 4 ? UINT64_MAX / 4
                                              : (uint64_t)bytes;
}

// The library turns by any angle in three shears, after a quarter turn into
// a copy for angles past 45 degrees either way (its angle is the user's
// negated, brought into 0 to 360); each shear's bitmap is held with the one
// before it.
static uint64_t TurnPeak(int bits, int64_t width, int64_t height,
                         double angle) {
  double a = fmod(-angle, 360);
  if (a < 0) a += 360;
  uint64_t copy = 0;
  int64_t w = width, h = height;
  if (a > 45 && a <= 315) {
    int sideways = a <= 135 || a > 225;
    copy = Pixels(bits, width, height);
    if (sideways) w = height, h = width;
    a -= a <= 135 ? 90 : a <= 225 ? 180 : 270;
  }
  const double kRadiansPerDegree = 3.14159265358979323846 / 180;
  double radians = a * kRadiansPerDegree;
  double s = fabs(sin(radians)), c = cos(radians);
  int64_t w1 = w + (int64_t)(h * fabs(tan(radians / 2)) + 0.5);
  int64_t h2 = (int64_t)(w * s + h * c + 0.5) + 1;
  int64_t w3 = (int64_t)(h * s + w * c + 0.5) + 1;
  uint64_t first = Pixels(bits, w1, h), second = Pixels(bits, w1, h2),
           third = Pixels(bits, w3, h2);
  return copy + second + (first > third ? first : third);
}

// The library's filter widths, in source pixels at scale 1.
static double FilterWidth(ResizeFilter filter) {
  switch (filter) {
    case kFilterBox:
      return 0.5;
    case kFilterBilinear:
      return 1;
    case kFilterLanczos3:
      return 3;
    default:
      return 2;
  }
}

// The weights of one pass: for each pixel of the new line a window of
// doubles, allocated one by one.
static uint64_t WeightTable(int64_t from, int64_t to, ResizeFilter filter) {
  if (from == to || to <= 0) return 0;
  double width = FilterWidth(filter) * (to < from ? (double)from / to : 1);
  uint64_t window = 2 * (uint64_t)ceil(width) + 1;
  return (uint64_t)to * (window * sizeof(double) + 48);
}

// The library resizes in two passes through a bitmap of the new width and
// the old height, or the other way round, holding it with the result; a
// picture with alpha is resized with the alpha applied, in a 32-bit copy.
// A resize split over several workers holds, beside what the one call
// holds, the pieces in work (about a quarter of a pass's picture in all),
// and for each worker its piece's weights and its thread's stack.
static uint64_t SplitPeak(int workers, uint64_t pass, uint64_t weights) {
  if (workers <= 1) return 0;
  return pass / 4 + (uint64_t)workers * (weights + (1 << 20));
}

static uint64_t ResizePeak(int bits, int64_t W, int64_t H, int64_t w,
                           int64_t h, ResizeFilter filter) {
  uint64_t applied = bits == 32 || bits < 24 ? Pixels(32, W, H) : 0;
  int made = bits < 24 ? 32 : bits;
  uint64_t between = 0;
  if (w != W && h != H)
    between = w <= W ? Pixels(made, w, H) : Pixels(made, W, h);
  uint64_t across = WeightTable(W, w, filter), down = WeightTable(H, h, filter);
  uint64_t weights = across > down ? across : down;
  uint64_t result = Pixels(made, w, h);
  uint64_t pass = result > between ? result : between;
  return applied + result + between + weights +
         SplitPeak(ImageWorkers(), pass, weights);
}

// A 4-bit picture is flipped through an 8-bit copy and back.
static uint64_t FlipPeak(int bits, int64_t width, int64_t height) {
  return bits == 4 ? Pixels(8, width, height) + Pixels(4, width, height) : 0;
}

static uint64_t QuarterTurnCopies(int bits, int64_t width, int64_t height) {
  return bits == 4 ? 2 * Pixels(8, width, height) : 0;
}

uint64_t EditPeakBytes(const PlannedEdit *edit, int bits, int64_t width,
                       int64_t height, int *made_bits) {
  int64_t w = edit->width, h = edit->height;
  *made_bits = bits;
  switch (edit->kind) {
    case kPlannedFlip:
      return FlipPeak(bits, width, height);
    case kPlannedResize:  // palette and grey pictures made colour, at most
      if (bits < 24 || bits == 32) *made_bits = 32;
      return ResizePeak(bits, width, height, w, h, edit->filter);
    case kPlannedTurn:
      // A quarter turn keeps the depth; 4-bit pictures turn as 8 bits.
      if (QuarterTurnSideways(edit->angle, width, height) >= 0)
        return Pixels(bits, w, h) + QuarterTurnCopies(bits, width, height);
      // A palette picture is blended in a 32-bit copy.
      if (bits < 24) {
        *made_bits = 32;
        return Pixels(32, width, height) +
               TurnPeak(32, width, height, edit->angle);
      }
      return TurnPeak(bits, width, height, edit->angle);
    case kPlannedUpright:
      return Pixels(bits, w, h) + QuarterTurnCopies(bits, width, height) +
             FlipPeak(bits, w, h);
    default:  // a crop
      return Pixels(bits, w, h);
  }
}

// The copies a writer's form makes of the last picture, all held at once
// at worst: 16-bit channels made 8 for BMP and JPEG; for JPEG, alpha,
// transparency or a palette widened to 32 bits, then flattened to 24.
static uint64_t WriterCopies(ImageFormat format, int bits, int64_t width,
                             int64_t height) {
  uint64_t narrow = bits == 64   ? Pixels(32, width, height)
                    : bits == 48 ? Pixels(24, width, height)
                    : bits == 16 ? Pixels(8, width, height)
                                 : 0;
  if (format != kFormatJpeg) return format == kFormatBmp ? narrow : 0;
  if (bits == 24) return 0;
  if (bits == 48 || bits == 16) return narrow;
  uint64_t flat = Pixels(24, width, height);
  if (bits == 32) return flat;
  return (bits == 64 ? narrow : Pixels(32, width, height)) + flat;
}

// The steps of the job in turn, each holding what is left of the one
// before: the decode (the file and the metadata read already), each edit
// with the picture it is given, the save with the last picture, the
// writer's copies and the metadata laid out for it.
static void CostJob(const PlannedEdit *edits, int count, ImageFormat output,
                    uint64_t metadata, uint64_t limit, DecodePlan *plan) {
  const DecodeForecast *forecast = &plan->forecast;
  plan->peak = forecast->bytes + metadata;
  if (plan->peak > limit) {
    plan->refusal = kPlanDecodeTooCostly;
    plan->refused_bytes = plan->peak;
    return;
  }
  if (forecast->bits <= 0) return;  // the library will judge it
  int bits = forecast->bits;
  int64_t width = forecast->width, height = forecast->height;
  for (int i = 0; i < count; i++) {
    PlannedEdit edit = edits[i];
    if (i < plan->first_resize) {  // done on the reduced decode
      edit.width = ReducedSide(edit.width, plan->reduction);
      edit.height = ReducedSide(edit.height, plan->reduction);
    }
    if (edit.kind == kPlannedFlip) edit.width = width, edit.height = height;
    if (edit.width <= 0 || edit.height <= 0) return;  // it will say why
    int made_bits;
    uint64_t held = Pixels(bits, width, height) + metadata;
    uint64_t peak = held + EditPeakBytes(&edit, bits, width, height,
                                         &made_bits);
    if (peak > plan->peak) plan->peak = peak;
    if (peak > limit) {
      plan->refusal = kPlanEditTooCostly;
      plan->refused_edit = i;
      plan->refused_bytes = peak;
      return;
    }
    bits = made_bits, width = edit.width, height = edit.height;
  }
  // The metadata laid out for the writer is a second copy of it.
  uint64_t save = Pixels(bits, width, height) + 2 * metadata +
                  WriterCopies(output, bits, width, height);
  if (save > plan->peak) plan->peak = save;
  if (save > limit) {
    plan->refusal = kPlanSaveTooCostly;
    plan->refused_bytes = save;
  }
}

void PlanDecode(const OpenedImage *image, const PhotoMetadata *metadata,
                const PlannedEdit *edits, int count,
                ImageFormat output_format, uint64_t limit, DecodePlan *plan) {
  *plan = DecodePlan{};
  plan->reduction = 1;
  plan->first_resize = -1;
  plan->threads = ImageWorkers();
  ChooseReduction(image, edits, count, plan);
  ForecastDecode(image, plan->reduction, &plan->forecast);
  CostJob(edits, count, output_format, PhotoMetadataBytes(metadata), limit,
          plan);
}
