// The image layer's public face: format from a file name, load, save, and the
// five edits. Only this layer talks to the image library; it never ends the
// program nor shows a message, but answers NULL, 0 or an ImageError that the
// caller turns into its own words.
//
// Ownership: LoadImageByName, CropImage, RotateImage, ResizeImage and
// UprightImage return a new bitmap that carries the photo's profile and
// resolution (or NULL), and never release the one they were given; the
// caller releases bitmaps with ReleaseImage. The flips work in place. The
// photo's other metadata travels beside the bitmap, in the record a load
// fills and a save places (image/metadata/record.h).
#ifndef ORVANE_IMAGE_IMAGEFILE_H
#define ORVANE_IMAGE_IMAGEFILE_H

#include <stddef.h>
#include <stdint.h>

struct FIBITMAP;
struct PhotoMetadata;

// The library's own format codes.
enum ImageFormat {
  kFormatNone = -1,
  kFormatBmp = 0,
  kFormatJpeg = 2,
  kFormatPng = 13
};

// The format named by the end of path (.jpg, .jpeg, .bmp, .png, any case).
ImageFormat ImageFormatOf(const char *path);

// The format the bytes hold, by their signature; kFormatNone for any other.
ImageFormat ImageFormatOfBytes(const unsigned char *data, size_t size);

// Why a load failed.
enum ImageError {
  kImageLoaded = 0,  // no failure
  kImageNoFormat,    // the name ends in none of the accepted endings
  kImageUnreadable,  // the file could not be read: missing, a folder, a
                     // device or FIFO, no permission
  kImageNotAnImage,  // empty, or not a JPEG, PNG or BMP by its content
  kImageDamaged,     // it claims more than its bytes can code, or holds a
                     // form the library mishandles
  kImageTooLarge,    // it needs more memory than the machine can give now
  kImageUndecodable  // the library could not decode it
};

// What a load that worked all the same found wrong with the file's data.
enum ImageWarning {
  kImageSound = 0,    // nothing
  kImageEndsEarly,    // the data ends before the picture does
  kImageDataSkipped   // the decoder skipped or guessed at damaged data
};

// Why a load or a save failed: one sentence in plain words for the user.
// A load that worked leaves error kImageLoaded and may leave a warning.
enum { kFailureReasonSize = 200 };
struct LoadFailure {
  ImageError error;
  char reason[kFailureReasonSize];
  ImageWarning warning;
  char decoder_said[kFailureReasonSize];  // the warning in the decoder's words
};
struct SaveFailure {
  char reason[kFailureReasonSize];
};

// Reads the file at path once and loads the image from those bytes: the
// check of its headers, the form shown to the library and the load all see
// the same bytes. The name must end in a known format, but the content
// decides which: a PNG named .jpg loads as PNG. NULL with *failure filled in
// when it can't. With metadata, the photo's metadata is read into it
// (release it with ReleasePhotoMetadata once the bitmap is not NULL).
FIBITMAP *LoadImageByName(const char *path, LoadFailure *failure,
                          PhotoMetadata *metadata = NULL);

// The same load from bytes already in memory (borrowed).
FIBITMAP *LoadImageBytes(const unsigned char *data, size_t size,
                         LoadFailure *failure, PhotoMetadata *metadata);

// The same load in two halves, for a caller that decides how to decode
// from the photo's size: opened, the file is read and judged and its
// metadata read; decoded, its pixels are paid for. The record owns the
// file's bytes (mapped where they lie) and headers until CloseImage, which
// must come before a save replaces the file.
struct ImageHeaders;
struct OpenedFile;
struct OpenedImage {
  const unsigned char *data;
  size_t size;
  ImageFormat format;     // by content
  int64_t width, height;  // as the headers claim; 0 when they can't be read
  ImageHeaders *headers;
  OpenedFile *opened;  // the headers and the map, as one heap block
};

// 1, or 0 with *failure filled in as LoadImageByName fills it and nothing
// kept. The metadata (given) is read into its record, which the caller
// releases with ReleasePhotoMetadata, whatever the decode does.
int OpenImageByName(const char *path, OpenedImage *image, LoadFailure *failure,
                    PhotoMetadata *metadata);

// The largest of 1, 2, 4 and 8 by which the decoder can divide the
// photo's sides while it still gives at least least_width x least_height
// pixels: a JPEG's decoder skips most of the work of the pixels it leaves
// out. 1 for PNG and BMP.
int LargestReduction(const OpenedImage *image, int64_t least_width,
                     int64_t least_height);

// The picture decoded with its sides divided by reduction (rounded up), as
// LargestReduction gave it; NULL with *failure filled in. The memory it
// needs is judged for that size.
FIBITMAP *DecodeOpenedImage(const OpenedImage *image, int reduction,
                            const PhotoMetadata *metadata,
                            LoadFailure *failure);

// What decoding the opened photo with its sides divided by reduction
// takes at its peak, the file's own bytes and the copies made of them
// included, and the picture it leaves: its size and bits a pixel, as the
// edits get it (at most: a 32-bit BMP may come out at 24). All 0 when its
// headers could not be read, and the library judges it.
struct DecodeForecast {
  uint64_t bytes;
  int64_t width, height;
  int bits;
};
void ForecastDecode(const OpenedImage *image, int reduction,
                    DecodeForecast *forecast);

void CloseImage(OpenedImage *image);

// Writes the bitmap to a fresh file beside path and moves it over path only
// once it is complete, so a failure leaves any existing file as it was. A
// PNG whose colour profile the writer rejects is saved without it. The
// metadata's segments, when given, are placed into what the writer made.
// Returns 1 on success, 0 with *failure (when given) filled in, also for a
// name of no known format.
int SaveImageByName(FIBITMAP *bitmap, const char *path, int quality,
                    SaveFailure *failure = NULL,
                    const PhotoMetadata *metadata = NULL);

// Writes bytes made already (a JPEG transformed losslessly) to path the
// same safe way. 1, or 0 with *failure filled in.
int SaveBytesByName(const unsigned char *bytes, size_t size, const char *path,
                    SaveFailure *failure);

// 1 when a width x height image can be written in format; else 0 with
// reason (reason_size bytes) saying why, as one sentence. Only JPEG has a
// limit below what memory allows: 65500 pixels a side.
int FitsFormat(ImageFormat format, int64_t width, int64_t height,
               char *reason, size_t reason_size);

// The flags handed to the library for a quality: BMP never gets the RLE bit.
int SaveFlagsFor(ImageFormat format, int quality);

FIBITMAP *CropImage(FIBITMAP *bitmap, int x, int y, int w, int h);
// Turns by angle degrees counter-clockwise; an angle QuarterTurnsOf takes
// for whole quarter turns turns the pixels exactly.
FIBITMAP *RotateImage(FIBITMAP *bitmap, double angle);

// The whole quarter turns (0 to 3, counter-clockwise) that turning a W x H
// picture by angle degrees comes to, or -1 for any other angle (and one that
// is no number). An angle that moves no corner by a thousandth of a pixel
// from a multiple of 90 degrees is that multiple, so a slip of the last
// digit (90.0000000001, 1e-300) never resamples the picture. Every path that
// turns or forecasts a turn asks this, so the size told and the size made
// agree.
int QuarterTurnsOf(double angle, int64_t W, int64_t H);
// In place: 1, or 0 with the bitmap as it was (out of memory).
int FlipImageHorizontal(FIBITMAP *bitmap);
int FlipImageVertical(FIBITMAP *bitmap);

// The library's own codes of the filters a resize can use. B-spline, the
// smoothest, is the one used unless another is asked for.
enum ResizeFilter {
  kFilterBox = 0,
  kFilterBicubic = 1,  // Mitchell-Netravali
  kFilterBilinear = 2,
  kFilterBSpline = 3,
  kFilterCatmullRom = 4,
  kFilterLanczos3 = 5
};
FIBITMAP *ResizeImage(FIBITMAP *bitmap, int width, int height,
                      ResizeFilter filter);

// The threads a resize may work on, the caller's among them: 1 until set.
// Set once, before any edit; the picture comes out the same whatever the
// count.
void SetImageWorkers(int count);
int ImageWorkers(void);

// The photo turned and flipped as its EXIF orientation (1 to 8) says it is
// to be seen; a copy when there is nothing to turn.
FIBITMAP *UprightImage(FIBITMAP *bitmap, int orientation);

// The size of what each edit makes of a W x H image, known before any work
// so that a size the machine can't hold is refused at once. 0 x 0 for an
// edit that will fail anyway (a rectangle outside the image, an angle that
// is no number).
void CropTarget(int64_t W, int64_t H, int x, int y, int w, int h,
                int64_t *new_width, int64_t *new_height);
void RotateTarget(int64_t W, int64_t H, double angle, int64_t *new_width,
                  int64_t *new_height);
// The size a resize asks for, for a W x H image: a missing (non-positive)
// dimension follows the other in proportion; with neither, the height is 128.
// Computed in 64 bits so that no product overflows.
void ResizeTarget(int64_t W, int64_t H, int width, int height,
                  int64_t *new_width, int64_t *new_height);
// Orientations 5 to 8 lie on their side.
void UprightTarget(int64_t W, int64_t H, int orientation,
                   int64_t *new_width, int64_t *new_height);

// The bytes a width x height picture of bits a pixel takes, and those of
// the form the edits make of such pixels (at least 24 bits each, as the
// library's resize and turn give them). Saturate instead of overflowing.
uint64_t PictureBytes(int bits, int64_t width, int64_t height);
uint64_t EditedPictureBytes(int bits, int64_t width, int64_t height);
// The same for bitmap's pixels.
uint64_t EditedImageBytes(FIBITMAP *bitmap, int64_t width, int64_t height);

// The resolution in dots per inch, rounded; 0 where the bitmap gives none.
void ImageDotsPerInch(FIBITMAP *bitmap, uint32_t *x, uint32_t *y);

int ImageWidth(FIBITMAP *bitmap);
int ImageHeight(FIBITMAP *bitmap);
int ImageBits(FIBITMAP *bitmap);  // a pixel

void ReleaseImage(FIBITMAP *bitmap);

#endif
