// What a photo carries besides its pixels: its ICC profile, its resolution
// and the metadata the image library read (EXIF, IPTC, XMP, comments). The
// library keeps them on the flips, which work in place, but not on every
// bitmap that replaces another.
//
// Ownership: nothing here takes or releases a bitmap; the routines change
// the bitmap they are given.
#ifndef ORVANE_IMAGE_CARRY_H
#define ORVANE_IMAGE_CARRY_H

#include "image/headers.h"

// Gives to what from carries, in place of what to carried.
void CarryPhotoData(FIBITMAP *from, FIBITMAP *to);

// Settles the profile of a bitmap just loaded from a file with these
// headers: a PNG's profile, which the library reads but does not keep, and
// a BMP's, which it never reads, are attached; a profile for other colours
// than the pixels' (a CMYK profile on the RGB pixels the library makes of a
// CMYK JPEG) is dropped.
void SettleLoadedProfile(FIBITMAP *bitmap, const ImageHeaders *headers);

// Leaves out the comments without a name, which only a damaged PNG gives
// (an empty text chunk): libpng's writer refuses a keyword of nothing but
// spaces, and with it the whole save.
void LeaveOutNamelessComments(FIBITMAP *bitmap);

#endif
