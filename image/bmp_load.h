// Loading BMP files, including forms the image library refuses as they stand:
// it is shown the same bytes with a header it reads.
//
// Ownership: the bytes stay the caller's; LoadBmpBytes returns a new bitmap
// that the caller releases with ReleaseImage, or NULL when the library
// refuses the file.
#ifndef ORVANE_IMAGE_BMP_LOAD_H
#define ORVANE_IMAGE_BMP_LOAD_H

#include <stddef.h>

#include "image/bmp_header.h"
#include "image/imagefile.h"

// header: what ReadBmpHeader read of data, or NULL when it read nothing.
FIBITMAP *LoadBmpBytes(const unsigned char *data, size_t size,
                       const BmpHeader *header);

#endif
