// The EXIF a bitmap carries: the raw block the library read from a JPEG and
// writes back byte for byte (the only EXIF any of its writers writes), and
// the tags it parsed from that block.
//
// Ownership: nothing here takes or releases a bitmap; RawExifOf's answer
// belongs to the bitmap and lasts until its metadata changes.
#ifndef ORVANE_IMAGE_PHOTO_EXIF_H
#define ORVANE_IMAGE_PHOTO_EXIF_H

#include <stddef.h>

struct FIBITMAP;

// The bitmap's raw EXIF block, or NULL when it carries none.
const unsigned char *RawExifOf(FIBITMAP *bitmap, size_t *size);

// The bitmap's own thumbnail, which the library loads from the EXIF and its
// JPEG writer writes again as a JFIF extension: a second copy beside the
// EXIF's own, even when nothing was edited. Dropped at every load.
void LeaveOutThumbnail(FIBITMAP *bitmap);

// After an edit that changed the picture's geometry: the bitmap's EXIF gives
// its size, the camera's thumbnail is gone from it and from the bitmap, and
// when upright its Orientation is 1. EXIF that can't be mended safely is
// left out, all of it. A NULL bitmap is ignored.
void RetellGeometry(FIBITMAP *bitmap, int upright);

#endif
