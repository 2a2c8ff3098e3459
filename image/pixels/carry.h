// What a bitmap carries besides its pixels: its ICC profile and its
// resolution. The library keeps them on the flips, which work in place, but
// not on every bitmap that replaces another. (The photo's other metadata
// travels beside the bitmap, as bytes: see metadata.h.)
//
// Ownership: nothing here takes or releases a bitmap; the routines change
// the bitmap they are given.
#ifndef ORVANE_IMAGE_PIXELS_CARRY_H
#define ORVANE_IMAGE_PIXELS_CARRY_H

#include "image/containers/headers.h"
#include "image/metadata/record.h"

// Gives to what from carries, in place of what to carried.
void CarryPhotoData(FIBITMAP *from, FIBITMAP *to);

// Settles the profile of a bitmap just loaded from a file with these
// headers and metadata: a PNG's profile, which the library reads but does
// not keep, a BMP's, which it never reads, and a JPEG's, which it is not
// shown, are attached; a profile for other colours than the pixels' (a CMYK
// profile on the RGB pixels the library makes of a CMYK JPEG) is dropped.
void SettleLoadedProfile(FIBITMAP *bitmap, const ImageHeaders *headers,
                         const PhotoMetadata *metadata);

#endif
