// A PNG's gamma (gAMA chunk) applied alike to every colour type and depth.
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
// Grey images of up to 8 bits come out of the library with a palette of
// greys. libpng corrects 4-bit samples within 4 bits unless the library has
// them widened to 8 first (it widens 2-bit ones, and any with a tRNS chunk),
// so a 4-bit picture came out up to 13 levels off the same picture at 8
// bits. And the library marks transparent the grey value a tRNS chunk
// stores, not the one its sample shows as once widened and corrected: the
// white key 15 of a 4-bit image hid nothing, grey 15 showing nowhere. So
// such images get their samples as stored, from a second load without
// libpng's gamma, their palette of greys the correction, and the key its
// place.
//
// Ownership: nothing is kept; the bitmap stays the caller's, and the second
// load's bitmap is released before these return.
#ifndef ORVANE_IMAGE_LOAD_PNG_GAMMA_H
#define ORVANE_IMAGE_LOAD_PNG_GAMMA_H

#include <stddef.h>
#include <stdint.h>

#include "image/imagefile.h"
#include "image/containers/png_chunks.h"

// For a bitmap the library loaded from the PNG whose chunks are png (the
// file's bytes still in place): corrects a palette image's palette as
// libpng corrects truecolour samples, unless the file has no usable gAMA
// chunk, an sRGB chunk, or a gamma libpng deems too close to the display's,
// and unless the library has already corrected it (a libpng that hands its
// corrected palette back). Gives a grey image of up to 8 bits the correction
// of 8-bit samples and its transparent key where its sample shows. Returns
// 0 when a grey image's second load finds no memory, the picture then left
// as libpng made it; 1 otherwise.
int CorrectPngPaletteGamma(FIBITMAP *bitmap, const PngChunks *png);

// Whether the pixels of such a file may be loaded a second time, for the
// cost of its load.
int PngGreyLoadedTwice(const PngChunks *png);

// libpng's 8-bit table for a file gamma in its fixed point (45455 for
// 1/2.2) shown on the library's 2.2 display. Returns 0 and leaves table as
// it was when libpng would leave the samples alone.
int PngGammaTable(uint32_t file_gamma, unsigned char table[256]);

#endif
