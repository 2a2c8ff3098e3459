// The thin layer over the image library: format from a file name, load, save,
// and the five edits.
//
// Ownership: LoadImageByName, CropImage, RotateImage and ResizeImage return a
// new bitmap (or NULL when the library refuses) and never release the one they
// were given; the caller releases bitmaps with ReleaseImage. The flips work in
// place. LoadImageByName and SaveImageByName end the program (status 1) on a
// file name without an accepted extension; LoadImageByName also on a file it
// cannot open.
#ifndef ORVANE_APP_IMAGEFILE_H
#define ORVANE_APP_IMAGEFILE_H

#include <stdint.h>

struct FIBITMAP;

// The library's own format codes.
enum ImageFormat {
  kFormatNone = -1,
  kFormatBmp = 0,
  kFormatJpeg = 2,
  kFormatPng = 13
};

// The format named by the end of path (.jpg, .jpeg, .bmp, .png, any case).
ImageFormat ImageFormatOf(const char *path);

FIBITMAP *LoadImageByName(const char *path);

// Writes the bitmap to a fresh file beside path and moves it over path only
// once it is complete, so a failure leaves any existing file as it was.
// Returns 1 on success, 0 on failure.
int SaveImageByName(FIBITMAP *bitmap, const char *path, int quality);

// The flags handed to the library for a quality: BMP never gets the RLE bit.
int SaveFlagsFor(ImageFormat format, int quality);

FIBITMAP *CropImage(FIBITMAP *bitmap, int x, int y, int w, int h);
FIBITMAP *RotateImage(FIBITMAP *bitmap, double angle);
int FlipImageHorizontal(FIBITMAP *bitmap);
int FlipImageVertical(FIBITMAP *bitmap);
FIBITMAP *ResizeImage(FIBITMAP *bitmap, int width, int height);

// The size a resize asks for, for a W x H image: a missing (non-positive)
// dimension follows the other in proportion; with neither, the height is 128.
// Computed in 64 bits so that no product overflows.
void ResizeTarget(int64_t W, int64_t H, int width, int height,
                  int64_t *new_width, int64_t *new_height);

void ReleaseImage(FIBITMAP *bitmap);

#endif
