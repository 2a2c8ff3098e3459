#include "image/lossless/chain.h"

#include "image/imagefile.h"
#include "image/orientation.h"

template <typename T>
static void Swap(T *a, T *b) {
  T kept = *a;
  *a = *b;
  *b = kept;
}

void StartChain(LosslessChain *chain, int64_t width, int64_t height) {
  *chain = LosslessChain{width, height, LayDown{0, 0, 0},
                         Rectangle{0, 0, width, height}};
}

void ChainSize(const LosslessChain *chain, int64_t *width, int64_t *height) {
  *width = chain->lay.transpose ? chain->kept.h : chain->kept.w;
  *height = chain->lay.transpose ? chain->kept.w : chain->kept.h;
}

// A rectangle of a width x height picture laid down as lay, and back: the
// mirrors are undone before the transpose, which came first.
static Rectangle LaidDown(Rectangle r, LayDown lay, int64_t width,
                          int64_t height) {
  if (lay.transpose) {
    Swap(&r.x, &r.y);
    Swap(&r.w, &r.h);
    Swap(&width, &height);
  }
  if (lay.mirror_x) r.x = width - r.x - r.w;
  if (lay.mirror_y) r.y = height - r.y - r.h;
  return r;
}

static Rectangle PickedUp(Rectangle r, LayDown lay, int64_t laid_width,
                          int64_t laid_height) {
  if (lay.mirror_x) r.x = laid_width - r.x - r.w;
  if (lay.mirror_y) r.y = laid_height - r.y - r.h;
  if (lay.transpose) {
    Swap(&r.x, &r.y);
    Swap(&r.w, &r.h);
  }
  return r;
}

int ChainCrop(LosslessChain *chain, int x, int y, int w, int h) {
  int64_t width, height, new_width, new_height;
  ChainSize(chain, &width, &height);
  // The rule the crop without -lossless follows, and its corners.
  CropTarget(width, height, x, y, w, h, &new_width, &new_height);
  if (new_width == 0) return 0;
  Rectangle cut = {w < 0 ? (int64_t)x + w : x, h < 0 ? (int64_t)y + h : y,
                   new_width, new_height};
  Rectangle in_kept = PickedUp(cut, chain->lay, width, height);
  chain->kept.x += in_kept.x;
  chain->kept.y += in_kept.y;
  chain->kept.w = in_kept.w;
  chain->kept.h = in_kept.h;
  return 1;
}

// A quarter turn counter-clockwise is a transpose and then a mirror top to
// bottom; done after the mirrors so far, it swaps them.
static void TurnOnce(LosslessChain *chain) {
  LayDown *lay = &chain->lay;
  lay->transpose ^= 1;
  Swap(&lay->mirror_x, &lay->mirror_y);
  lay->mirror_y ^= 1;
}

void ChainTurn(LosslessChain *chain, int64_t quarter_turns) {
  for (int64_t turns = (quarter_turns % 4 + 4) % 4; turns > 0; turns--)
    TurnOnce(chain);
}

void ChainFlipHorizontal(LosslessChain *chain) { chain->lay.mirror_x ^= 1; }
void ChainFlipVertical(LosslessChain *chain) { chain->lay.mirror_y ^= 1; }

void ChainUpright(LosslessChain *chain, int orientation) {
  const UprightWay *way = WayUpright(orientation);
  ChainTurn(chain, way->quarter_turns);
  if (way->flip_horizontal) ChainFlipHorizontal(chain);
  if (way->flip_vertical) ChainFlipVertical(chain);
}

static int LeastCommonMultiple(int a, int b) {
  int x = a, y = b;
  while (y != 0) {
    int rest = x % y;
    x = y;
    y = rest;
  }
  return a / x * b;
}

// Partial blocks can only stay at the right and bottom edges: an edge is
// dropped when the transform would take it elsewhere.
static void WholeBlocks(const LosslessChain *chain, int block_width,
                        int block_height, LosslessPlan *plan) {
  LayDown lay = chain->lay;
  int right_moves = lay.transpose ? lay.mirror_y : lay.mirror_x;
  int bottom_moves = lay.transpose ? lay.mirror_x : lay.mirror_y;
  plan->whole_width =
      chain->width - (right_moves ? chain->width % block_width : 0);
  plan->whole_height =
      chain->height - (bottom_moves ? chain->height % block_height : 0);
}

void PlanLossless(const LosslessChain *chain, int block_width, int block_height,
                  LosslessPlan *plan) {
  const Rectangle &kept = chain->kept;
  plan->lay = chain->lay;
  WholeBlocks(chain, block_width, block_height, plan);
  plan->crops = kept.x != 0 || kept.y != 0 || kept.w != chain->width ||
                kept.h != chain->height;
  plan->region =
      LaidDown(kept, chain->lay, plan->whole_width, plan->whole_height);
  // The region starts on a corner of the blocks as laid down, and on one of
  // the original's own as well: TurboJPEG's transform asked that, and the
  // lines it took are the lines taken.
  int transpose = chain->lay.transpose;
  plan->grid_width =
      LeastCommonMultiple(transpose ? block_height : block_width, block_width);
  plan->grid_height =
      LeastCommonMultiple(transpose ? block_width : block_height, block_height);
  ChainSize(chain, &plan->width, &plan->height);
  if (kept.x + kept.w > plan->whole_width ||
      kept.y + kept.h > plan->whole_height)
    plan->fit = kFitPartialBlocks;
  else if (plan->crops && (plan->region.x % plan->grid_width != 0 ||
                           plan->region.y % plan->grid_height != 0))
    plan->fit = kFitOffGrid;
  else
    plan->fit = kFitExact;
}

int PlanMovesBlocks(const LosslessPlan *plan) {
  return plan->crops || plan->lay.transpose || plan->lay.mirror_x ||
         plan->lay.mirror_y;
}
