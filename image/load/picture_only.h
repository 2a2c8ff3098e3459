// The form of a JPEG or PNG shown to the image library: what decoding its
// pixels needs, and nothing of its metadata wherever it stands, so none of
// the library's metadata parsers ever runs on the photo's bytes.
//
// Ownership: the spans of the view returned are the caller's (free
// shown->spans); the bytes they show are borrowed from those given.
#ifndef ORVANE_IMAGE_LOAD_PICTURE_ONLY_H
#define ORVANE_IMAGE_LOAD_PICTURE_ONLY_H

#include <stddef.h>

#include "image/containers/headers.h"
#include "image/load/shown_bytes.h"

// The file's own bytes, shown as they stand but for what is left out: of a
// JPEG, every comment and every APPn segment, to its end, but the JFIF and
// Adobe segments before its first scan, which decide how the pixels are
// decoded; of a PNG, every ancillary chunk but those that change or place
// its pixels (tRNS, gAMA, cHRM, sRGB, iCCP, sBIT, pHYs, bKGD). Nothing is
// copied. Bytes that can't be walked are shown as they stand, for the
// library to judge; so is a BMP. The headers, read from the same bytes, tell
// whether a JPEG holds anything to leave out behind its first scan; when it
// doesn't, its coded data is not walked again. 0 when memory runs out.
int PictureOnly(const unsigned char *data, size_t size,
                const ImageHeaders *headers, ShownBytes *shown);

#endif
