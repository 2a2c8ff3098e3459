// Loading BMP files, including forms the image library refuses or misreads
// as they stand: it is shown the same bytes with a header it reads, or
// bit-field pixels unpacked into plain rows.
//
// Ownership: the bytes stay the caller's; LoadBmpBytes returns a new bitmap
// that the caller releases with ReleaseImage, or NULL when the library
// refuses the file.
#ifndef ORVANE_IMAGE_LOAD_BMP_LOAD_H
#define ORVANE_IMAGE_LOAD_BMP_LOAD_H

#include <stddef.h>

#include "image/containers/bmp_header.h"
#include "image/imagefile.h"

// Bits per pixel of the plain rows that bit-field pixels are unpacked into
// before the library sees them: 32 when an alpha mask gives them alpha, 24
// otherwise; 0 for pixels shown as they are stored.
int BmpUnpackedBits(const BmpHeader *header);

// header: what ReadBmpHeader read of data, or NULL when it read nothing.
// NULL also when there is no memory to unpack bit fields into.
FIBITMAP *LoadBmpBytes(const unsigned char *data, size_t size,
                       const BmpHeader *header);

#endif
