// A JPEG's coded blocks laid down and cut as a lossless plan says, read
// and written by libjpeg in one pass each: the entropy coding is decoded
// once, the blocks (and, for a transpose, the quantization tables) are
// moved as jpegtran moves them, and the result is coded once with Huffman
// tables made for its blocks; progressive when the photo is, with libjpeg's
// simple progression. No restart markers and no metadata besides the JFIF
// or Adobe header libjpeg writes: the caller places the photo's own.
//
// Ownership: the result is a new heap buffer the caller frees with free.
#ifndef ORVANE_IMAGE_LOSSLESS_BLOCKS_H
#define ORVANE_IMAGE_LOSSLESS_BLOCKS_H

#include <stddef.h>

#include "image/lossless/chain.h"

// The JPEG at data transformed as the plan says (its fit must be
// kFitExact). A warning while decoding (data cut short, say) leaves the
// whole picture the decoder would show, as a load does. NULL, with nothing
// allocated and reason (kFailureReasonSize) saying why, when libjpeg stops.
unsigned char *TransformedBlocks(const unsigned char *data, size_t size,
                                 const LosslessPlan *plan, int progressive,
                                 size_t *new_size, char *reason);

#endif
