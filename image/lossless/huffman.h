// A baseline JPEG's coded blocks written again with Huffman tables made for
// them, as an encoder's optimising pass makes them: the blocks, the frame
// and the quantization tables stay as they are; only the entropy coding
// shrinks. TurboJPEG's transform writes the standard tables, which cost a
// photo that had its own a tenth or more of its size.
//
// Ownership: the result is a new heap buffer the caller frees with free.
#ifndef ORVANE_IMAGE_LOSSLESS_HUFFMAN_H
#define ORVANE_IMAGE_LOSSLESS_HUFFMAN_H

#include <stddef.h>

// The JPEG at data, of one or more baseline Huffman scans and no markers
// besides those libjpeg writes, coded again with optimised tables; NULL,
// with nothing allocated, when the decoder or encoder stops or warns.
unsigned char *WithOptimisedTables(const unsigned char *data, size_t size,
                                   size_t *new_size);

#endif
