// The public face's small parts: formats from names and bytes, the limits
// of a format, sizes, resolution, release.
#include "image/imagefile.h"

#include <FreeImage.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "lib/strings.h"

static int EndsWith(const char *path, size_t length, const char *tail) {
  size_t n = strlen(tail);
  return length >= n && StrICmp(path + length - n, tail) == 0;
}

ImageFormat ImageFormatOf(const char *path) {
  size_t n = strlen(path);
  if (n <= 3) return kFormatNone;
  if (EndsWith(path, n, ".jpg") || EndsWith(path, n, ".jpeg"))
    return kFormatJpeg;
  if (EndsWith(path, n, ".bmp")) return kFormatBmp;
  if (EndsWith(path, n, ".png")) return kFormatPng;
  return kFormatNone;
}

static int StartsWith(const unsigned char *data, size_t size,
                      const char *signature, size_t length) {
  return size >= length && memcmp(data, signature, length) == 0;
}

ImageFormat ImageFormatOfBytes(const unsigned char *data, size_t size) {
  if (StartsWith(data, size, "\xFF\xD8\xFF", 3)) return kFormatJpeg;
  if (StartsWith(data, size, "\x89PNG\r\n\x1A\n", 8)) return kFormatPng;
  if (StartsWith(data, size, "BM", 2)) return kFormatBmp;
  return kFormatNone;
}

// For BMP the library reads an odd flag as "compress with RLE", and writes
// broken files that way; a quality must never turn it on.
int SaveFlagsFor(ImageFormat format, int quality) {
  return format == kFormatBmp ? (quality & ~BMP_SAVE_RLE) : quality;
}

// libjpeg's own limit; its encoder would only say that it failed.
int FitsFormat(ImageFormat format, int64_t width, int64_t height,
               char *reason, size_t reason_size) {
  const int64_t kJpegMostPixels = 65500;
  if (format != kFormatJpeg ||
      (width <= kJpegMostPixels && height <= kJpegMostPixels))
    return 1;
  snprintf(reason, reason_size,
           "A JPEG holds at most %lld pixels a side; the image is %lld x %lld.",
           (long long)kJpegMostPixels, (long long)width, (long long)height);
  return 0;
}


uint64_t PictureBytes(int bits, int64_t width, int64_t height) {
  long double bytes = (long double)width * height * bits / 8;
  return bytes >= (long double)UINT64_MAX ? UINT64_MAX : (uint64_t)bytes;
}

uint64_t EditedPictureBytes(int bits, int64_t width, int64_t height) {
  return PictureBytes(bits < 24 ? 24 : bits, width, height);
}

uint64_t EditedImageBytes(FIBITMAP *bitmap, int64_t width, int64_t height) {
  return EditedPictureBytes(ImageBits(bitmap), width, height);
}

static uint32_t DotsPerInch(unsigned dots_per_metre) {
  return (uint32_t)(dots_per_metre * 0.0254 + 0.5);
}

void ImageDotsPerInch(FIBITMAP *bitmap, uint32_t *x, uint32_t *y) {
  *x = DotsPerInch(FreeImage_GetDotsPerMeterX(bitmap));
  *y = DotsPerInch(FreeImage_GetDotsPerMeterY(bitmap));
}

static int g_image_workers = 1;

void SetImageWorkers(int count) { g_image_workers = count > 1 ? count : 1; }
int ImageWorkers(void) { return g_image_workers; }

int ImageWidth(FIBITMAP *bitmap) { return (int)FreeImage_GetWidth(bitmap); }
int ImageHeight(FIBITMAP *bitmap) { return (int)FreeImage_GetHeight(bitmap); }
int ImageBits(FIBITMAP *bitmap) { return (int)FreeImage_GetBPP(bitmap); }

void ReleaseImage(FIBITMAP *bitmap) { FreeImage_Unload(bitmap); }
