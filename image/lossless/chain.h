// A chain of quarter turns, flips and crops composed, as it is read, into
// what a lossless JPEG transform does in one step: one of the eight ways to
// lay the picture down and one rectangle of the original. Then judged
// against the JPEG's grid of coded blocks (its MCUs), which move only
// whole: a partial block at an edge that would end up at the top or left,
// or a crop that would start inside a block, can't be done exactly.
//
// Ownership: plain records of numbers; nothing is allocated.
#ifndef ORVANE_IMAGE_LOSSLESS_CHAIN_H
#define ORVANE_IMAGE_LOSSLESS_CHAIN_H

#include <stdint.h>

// Where the original's pixels go: across the main diagonal first when
// transpose is set (columns become rows), then mirrored left to right and
// top to bottom as mirror_x and mirror_y say. The eight combinations are
// the eight ways to lay a picture down.
struct LayDown {
  int transpose, mirror_x, mirror_y;
};

struct Rectangle {
  int64_t x, y, w, h;
};

struct LosslessChain {
  int64_t width, height;  // the original's size
  LayDown lay;            // how the edits so far lay the kept part down
  Rectangle kept;         // the part of the original kept, in its pixels
};

// The chain of no edits on a width x height picture.
void StartChain(LosslessChain *chain, int64_t width, int64_t height);

// The size of the picture the edits so far make.
void ChainSize(const LosslessChain *chain, int64_t *width, int64_t *height);

// Crops the picture as the edits so far leave it, to the rectangle as -c
// takes it (corners in either order). 1, or 0 with the chain unchanged when
// the rectangle reaches outside the picture or holds no pixel.
int ChainCrop(LosslessChain *chain, int x, int y, int w, int h);

// Turns the picture counter-clockwise by quarter turns (negative:
// clockwise).
void ChainTurn(LosslessChain *chain, int64_t quarter_turns);

void ChainFlipHorizontal(LosslessChain *chain);
void ChainFlipVertical(LosslessChain *chain);

// Turns the picture as an EXIF orientation (1 to 8) says it is to be shown;
// any other value leaves it as it is.
void ChainUpright(LosslessChain *chain, int orientation);

enum LosslessFit {
  kFitExact,
  kFitPartialBlocks,  // a partial block would leave the right or bottom edge
  kFitOffGrid         // the crop would start inside a block
};

// What the transform does, for a JPEG of block_width x block_height MCUs.
// The transform lays the original's whole blocks down, dropping the partial
// ones it would move (the crop never keeps them when the fit is exact), and
// then cuts the region out of that.
struct LosslessPlan {
  LosslessFit fit;
  LayDown lay;
  int crops;              // 0: the whole picture, nothing dropped
  Rectangle region;       // in the laid-down picture of whole blocks
  int grid_width;         // the region's start must be a multiple of
  int grid_height;        // these, in the result's pixels
  int64_t whole_width;    // the original cut to the blocks the
  int64_t whole_height;   // transform can move
  int64_t width, height;  // the result's size
};

void PlanLossless(const LosslessChain *chain, int block_width, int block_height,
                  LosslessPlan *plan);

// Whether the plan moves the blocks at all: a turn, a flip or a crop.
int PlanMovesBlocks(const LosslessPlan *plan);

#endif
