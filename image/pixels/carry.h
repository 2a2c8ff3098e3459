// What a bitmap carries besides its pixels: its ICC profile and its
// resolution. The library keeps them on the flips, which work in place, but
// not on every bitmap that replaces another. (The photo's other metadata
// travels beside the bitmap, as bytes: see image/metadata/record.h.)
//
// Ownership: nothing here takes or releases a bitmap; the routines change
// the bitmap they are given.
#ifndef ORVANE_IMAGE_PIXELS_CARRY_H
#define ORVANE_IMAGE_PIXELS_CARRY_H

#include "image/containers/headers.h"
#include "image/metadata/record.h"

// Gives to what from carries, in place of what to carried.
void CarryPhotoData(FIBITMAP *from, FIBITMAP *to);

// Gives a bitmap just loaded from a file with these headers and metadata
// the profile the file's head holds, or none: a JPEG's from its APP2
// segments, which the library is not shown, a PNG's from its iCCP chunk,
// which Debian's build of the library reads but does not keep, a BMP's,
// which it never reads. A profile for other colours than the pixels' (a
// CMYK profile on the RGB pixels the library makes of a CMYK JPEG) is left
// off.
void AttachHeadProfile(FIBITMAP *bitmap, const ImageHeaders *headers,
                       const PhotoMetadata *metadata);

// Empties every model of metadata the library keeps on the bitmap, and its
// thumbnail: the photo's metadata travels as bytes beside the bitmap, and a
// writer would write whatever it finds here.
void ForgetLibraryMetadata(FIBITMAP *bitmap);

#endif
