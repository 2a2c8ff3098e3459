// The checks an image file's header must pass before the library sees it:
// the library believes the sizes a header claims and allocates the whole
// bitmap first, so a small damaged file could take the machine's memory.
//
// Ownership: nothing is kept; the file is opened, read and closed again.
#ifndef ORVANE_IMAGE_CLAIMS_H
#define ORVANE_IMAGE_CLAIMS_H

#include "image/imagefile.h"

// 1 when the header of path claims more than the file could hold: an
// uncompressed BMP's or a PNG's pixels, a Huffman-coded JPEG's blocks (one
// bit each at least, with a wide margin), a BMP's pixel data beyond the end;
// or an arithmetic-coded JPEG or a compressed BMP larger than 8192 x 8192,
// which no file size bounds. 0 for anything it cannot read: the library
// judges that.
int ImageClaimsMoreThanItHolds(const char *path, ImageFormat format);

#endif
