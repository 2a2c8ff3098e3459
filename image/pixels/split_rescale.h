// The library's resize worked out on several threads, to the byte. Its
// resampler filters the rows across, then the columns down (the columns
// first when the picture widens), and each pass reads whole rows or whole
// columns of what the pass before made. So a pass can be cut into bands of
// rows, or strips of columns, each resized by the library on its own and
// put back in place, and every pixel comes out as one call makes it.
//
// Ownership: SplitRescale returns a new bitmap (NULL when the library
// refuses or memory runs out) and never changes the one it was given.
#ifndef ORVANE_IMAGE_PIXELS_SPLIT_RESCALE_H
#define ORVANE_IMAGE_PIXELS_SPLIT_RESCALE_H

#include <FreeImage.h>

// FreeImage_Rescale(bitmap, width, height, filter), on at most workers
// threads, the caller's among them; with 1, or a picture too small to be
// worth it, the one call itself.
FIBITMAP *SplitRescale(FIBITMAP *bitmap, int width, int height,
                       FREE_IMAGE_FILTER filter, int workers);

#endif
