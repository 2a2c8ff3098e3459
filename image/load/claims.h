// The check an image file must pass before the library sees it: the library
// believes the sizes a header claims and allocates the whole bitmap first,
// so a small damaged file could take the machine's memory.
//
// Ownership: nothing is kept; reason is the caller's buffer.
#ifndef ORVANE_IMAGE_LOAD_CLAIMS_H
#define ORVANE_IMAGE_LOAD_CLAIMS_H

#include <stddef.h>

#include "image/containers/headers.h"

// 1, with the reason written into reason, when the headers claim more than
// the file's bytes could code: a BMP's pixels where the library reads its
// rows raw, a PNG's pixels (against its IDAT bytes), a Huffman-coded JPEG's
// components (each needs a scan of one bit a block at least), a BMP's pixel
// data beyond the end; or a JPEG of more than 500 scans, or whose scans
// code its blocks more than 32 times over, summed; or an
// arithmetic-coded JPEG or run-length coded BMP larger than 8192 x 8192,
// which no file size bounds; or a BMP's bit fields without a colour mask,
// or a JPEG frame of a component count the library mishandles. 0 for
// headers it could not read: the library judges those.
int ClaimsMoreThanItHolds(const ImageHeaders *headers, char *reason,
                          size_t reason_size);

#endif
