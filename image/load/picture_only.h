// The form of a JPEG or PNG shown to the image library: what decoding its
// pixels needs, and nothing of its metadata, so none of the library's
// metadata parsers ever runs on the photo's bytes.
//
// Ownership: the copy returned is the caller's (free it).
#ifndef ORVANE_IMAGE_LOAD_PICTURE_ONLY_H
#define ORVANE_IMAGE_LOAD_PICTURE_ONLY_H

#include <stddef.h>

#include "image/imagefile.h"

// A copy of the JPEG's frames, tables, restart interval, JFIF and Adobe
// segments and everything from its first scan on; or of the PNG's critical
// chunks and those that change or place its pixels (tRNS, gAMA, cHRM, sRGB,
// iCCP, sBIT, pHYs, bKGD). Bytes that can't be walked are copied as they
// stand, for the library to judge. NULL when memory runs out.
unsigned char *PictureOnly(const unsigned char *data, size_t size,
                           ImageFormat format, size_t *new_size);

#endif
