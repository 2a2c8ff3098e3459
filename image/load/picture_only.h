// The form of a JPEG or PNG shown to the image library: what decoding its
// pixels needs, and nothing of its metadata, so none of the library's
// metadata parsers ever runs on the photo's bytes.
//
// Ownership: the head of the view returned is the caller's (free it); the
// rest is borrowed from the bytes given.
#ifndef ORVANE_IMAGE_LOAD_PICTURE_ONLY_H
#define ORVANE_IMAGE_LOAD_PICTURE_ONLY_H

#include <stddef.h>

#include "image/imagefile.h"
#include "image/load/shown_bytes.h"

// The JPEG's frames, tables, restart interval, JFIF and Adobe segments,
// copied, ahead of everything from its first scan on, shown as the file
// holds it (no copy of the coded data, which is most of the file); or a
// copy of the PNG's critical chunks and those that change or place its
// pixels (tRNS, gAMA, cHRM, sRGB, iCCP, sBIT, pHYs, bKGD). Bytes that can't
// be walked are shown as they stand, for the library to judge. 0 when
// memory runs out.
int PictureOnly(const unsigned char *data, size_t size, ImageFormat format,
                ShownBytes *shown);

#endif
