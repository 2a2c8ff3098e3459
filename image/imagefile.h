// The image layer's public face: format from a file name, load, save, and the
// five edits. Only this layer talks to the image library; it never ends the
// program nor shows a message, but answers NULL, 0 or an ImageError that the
// caller turns into its own words.
//
// Ownership: LoadImageByName, CropImage, RotateImage and ResizeImage return a
// new bitmap that carries the photo's profile, metadata and resolution (or
// NULL), and never release the one they were given; the caller releases
// bitmaps with ReleaseImage. The flips work in place.
#ifndef ORVANE_IMAGE_IMAGEFILE_H
#define ORVANE_IMAGE_IMAGEFILE_H

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

// Why a load failed.
enum ImageError {
  kImageLoaded = 0,  // no failure
  kImageNoFormat,    // the name ends in none of the accepted endings
  kImageUnreadable,  // the file could not be read: missing, a folder, a
                     // device or FIFO, no permission
  kImageDamaged,     // it claims more than its bytes can code, or holds a
                     // form the library mishandles
  kImageTooLarge,    // it needs more memory than the machine can give now
  kImageUndecodable  // the library could not decode it
};

struct LoadFailure {
  ImageError error;
  char reason[200];  // what was wrong, in words for the log; "" if unknown
};

// Reads the file at path once and loads the image from those bytes: the
// check of its headers, the form shown to the library and the load all see
// the same bytes. NULL with *failure filled in when it can't.
FIBITMAP *LoadImageByName(const char *path, LoadFailure *failure);

// Writes the bitmap to a fresh file beside path and moves it over path only
// once it is complete, so a failure leaves any existing file as it was.
// Returns 1 on success, 0 on failure (also for a name of no known format).
int SaveImageByName(FIBITMAP *bitmap, const char *path, int quality);

// The flags handed to the library for a quality: BMP never gets the RLE bit.
int SaveFlagsFor(ImageFormat format, int quality);

FIBITMAP *CropImage(FIBITMAP *bitmap, int x, int y, int w, int h);
FIBITMAP *RotateImage(FIBITMAP *bitmap, double angle);
// In place: 1, or 0 with the bitmap as it was (out of memory).
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
