// The checks an image file's header must pass before the library sees it:
// the library believes the sizes a header claims and allocates the whole
// bitmap first, so a small damaged file could take the machine's memory.
//
// Ownership: nothing is kept; the file is opened, read and closed again.
#ifndef ORVANE_APP_IMAGE_CLAIMS_H
#define ORVANE_APP_IMAGE_CLAIMS_H

#include "app/imagefile.h"

// 1 when the header of path claims more than the file could hold: an
// uncompressed BMP's or a PNG's pixels, or a BMP's pixel data beyond the end.
// 0 for anything it cannot read: the library judges that.
int ImageClaimsMoreThanItHolds(const char *path, ImageFormat format);

#endif
