// A PNG's gamma (gAMA chunk) applied alike to every colour type.
//
// The library asks libpng to correct every PNG with a gAMA chunk for a 2.2
// display. libpng corrects truecolour and grey samples, and the colours of a
// palette image in libpng's own copy of the palette. Debian's libpng
// 1.6.39-2+deb12u4 keeps that copy to itself when gamma is the only change
// asked for (a slip in a security fix, mended in +deb12u5), so on such a
// machine palette images came out as stored while the same picture in
// truecolour came out corrected. Here the loaded palette gets the correction
// libpng gives every other colour type, with libpng's own table.
//
// Ownership: nothing is allocated; the bitmap stays the caller's.
#ifndef ORVANE_IMAGE_PNG_GAMMA_H
#define ORVANE_IMAGE_PNG_GAMMA_H

#include <stddef.h>
#include <stdint.h>

#include "image/imagefile.h"
#include "image/png_chunks.h"

// For a bitmap the library loaded from the PNG whose chunks are png: corrects
// its palette as libpng corrects truecolour samples, unless the file has no
// palette, no usable gAMA chunk, an sRGB chunk, or a gamma libpng deems too
// close to the display's, and unless the library has already corrected it
// (a libpng that hands its corrected palette back).
void CorrectPngPaletteGamma(FIBITMAP *bitmap, const PngChunks *png);

// libpng's 8-bit table for a file gamma in its fixed point (45455 for
// 1/2.2) shown on the library's 2.2 display. Returns 0 and leaves table as
// it was when libpng would leave the samples alone.
int PngGammaTable(uint32_t file_gamma, unsigned char table[256]);

#endif
