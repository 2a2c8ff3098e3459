// What the library will allocate to load a file, worked out from its
// headers before it is paid: the bitmap at the depth the library loads it,
// the JPEG decoder's buffers, and the forms made right after loading.
//
// Ownership: nothing is kept.
#ifndef ORVANE_IMAGE_LOAD_COST_H
#define ORVANE_IMAGE_LOAD_COST_H

#include <stdint.h>

#include "image/containers/headers.h"

// Bits per pixel of the bitmap the library makes of a PNG, which widens
// some forms: 2-bit samples, 1 and 4-bit ones with transparency, and
// colour or 16-bit grey with a transparent colour. 0 for no valid form.
int PngLoadedBits(const PngChunks *png);

// A side of a JPEG decoded with its sides divided by reduction, as libjpeg
// rounds it: up.
int64_t ReducedSide(int64_t side, int reduction);

// Bits a pixel of the picture a load leaves for the edits, in the form
// made right after loading (a 16-bit BMP's pixels widened to 24); 0 when
// the headers could not be read.
int LoadedPictureBits(const ImageHeaders *headers);

// Bytes the load takes at its peak besides the file's own bytes, which are
// already read; 0 when the headers could not be read. A JPEG may be decoded
// with its sides divided by reduction (LargestReduction).
uint64_t LoadCost(const ImageHeaders *headers, int reduction = 1);

#endif
