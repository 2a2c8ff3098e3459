// The checks an image file's header must pass before the library sees it:
// the library believes the sizes a header claims and allocates the whole
// bitmap first, so a small damaged file could take the machine's memory.
//
// Ownership: nothing is kept; the file is opened, read and closed again.
#ifndef ORVANE_APP_IMAGE_CLAIMS_H
#define ORVANE_APP_IMAGE_CLAIMS_H

#include "app/imagefile.h"

// 1 when the header of path (an uncompressed BMP, or a PNG) claims more
// pixels than the whole file could hold: a damaged header.
int ImageClaimsMoreThanItHolds(const char *path, ImageFormat format);

#endif
