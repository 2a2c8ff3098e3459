// A JPEG's coded blocks laid down and cut as a lossless plan says, read
// and written by libjpeg in one pass each: the entropy coding is decoded
// once, the blocks (and, for a transpose, the quantization tables) are
// moved as jpegtran moves them, and the result is coded once with Huffman
// tables made for its blocks; progressive when the photo is, with libjpeg's
// simple progression. No restart markers and no metadata besides the JFIF
// or Adobe header libjpeg writes: the caller places the photo's own.
//
// The photo's header is read once, by libjpeg, when the frame is opened:
// its size, sampling and blocks are what the plan is made from and what
// the transform moves, so the two can't see different frames.
//
// Ownership: OpenCodedFrame returns a frame the caller closes with
// CloseCodedFrame; it borrows the photo's bytes until then. The result is
// a new heap buffer the caller frees with free.
#ifndef ORVANE_IMAGE_LOSSLESS_BLOCKS_H
#define ORVANE_IMAGE_LOSSLESS_BLOCKS_H

#include <stddef.h>
#include <stdint.h>

#include "image/lossless/chain.h"

struct CodedFrame;

// The frame as the header says, for the plan.
struct CodedFrameView {
  int width, height;
  int components;
  // The grid the blocks of every component move on, in pixels: the MCU's
  // span over the sparsest sampling, 8 x 8 for one component.
  int block_width, block_height;
  int64_t stored_blocks;  // of all components, as the decoder stores them
};

// Reads the header of the JPEG at data. NULL, with nothing allocated and
// reason (kFailureReasonSize) saying why, when libjpeg stops or the
// sampling is one a decoder can't show (a factor that does not divide the
// largest), or the photo has other than 1, 3 or 4 components.
CodedFrame *OpenCodedFrame(const unsigned char *data, size_t size,
                           CodedFrameView *view, char *reason);

// Closes the frame (NULL: nothing), whatever became of it.
void CloseCodedFrame(CodedFrame *frame);

// The frame's blocks transformed as the plan says (its fit must be
// kFitExact), once. A warning while decoding (data cut short, say) leaves
// the whole picture the decoder would show, as a load does. NULL, with
// reason saying why, when libjpeg stops or the plan would reach past the
// photo's blocks.
unsigned char *TransformedBlocks(CodedFrame *frame, const LosslessPlan *plan,
                                 size_t *new_size, char *reason);

#endif
