#include "image/imagefile.h"

#include <FreeImage.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "image/carry.h"
#include "image/forms.h"
#include "lib/strings.h"
#include "platform/platform.h"

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

// For BMP the library reads an odd flag as "compress with RLE", and writes
// broken files that way; a quality must never turn it on.
int SaveFlagsFor(ImageFormat format, int quality) {
  return format == kFormatBmp ? (quality & ~BMP_SAVE_RLE) : quality;
}

// The library's own stdio plumbing, as its path-taking save uses it.
static unsigned DLL_CALLCONV ReadFromFile(void *buffer, unsigned size,
                                          unsigned count, fi_handle file) {
  return (unsigned)fread(buffer, size, count, (FILE *)file);
}

static unsigned DLL_CALLCONV WriteToFile(void *buffer, unsigned size,
                                         unsigned count, fi_handle file) {
  return (unsigned)fwrite(buffer, size, count, (FILE *)file);
}

static int DLL_CALLCONV SeekInFile(fi_handle file, long offset, int origin) {
  return fseek((FILE *)file, offset, origin);
}

static long DLL_CALLCONV TellInFile(fi_handle file) {
  return ftell((FILE *)file);
}

// Saving by path, the library ignores the result of closing the file, so a
// disk that fills up on the last buffered write gave a short file and
// success (an empty photo, on a full disk). Here the flush and the close
// count.
static int SaveToFile(FIBITMAP *bitmap, ImageFormat format, const char *path,
                      int flags) {
  FILE *file = fopen(path, "w+b");
  if (file == NULL) return 0;
  FreeImageIO io = {ReadFromFile, WriteToFile, SeekInFile, TellInFile};
  int ok = FreeImage_SaveToHandle((FREE_IMAGE_FORMAT)format, bitmap, &io,
                                  (fi_handle)file, flags) &&
           fflush(file) == 0 && !ferror(file);
  return fclose(file) == 0 && ok;
}

static int SaveSafely(FIBITMAP *bitmap, ImageFormat format, const char *path,
                      int quality) {
  SafeSave save;
  if (!PlatformBeginSafeSave(path, &save)) return 0;
  if (!SaveToFile(bitmap, format, save.temp, SaveFlagsFor(format, quality))) {
    PlatformAbandonSafeSave(&save);
    return 0;
  }
  return PlatformFinishSafeSave(&save);
}

int SaveImageByName(FIBITMAP *bitmap, const char *path, int quality) {
  ImageFormat format = ImageFormatOf(path);
  if (format == kFormatNone) return 0;
  FIBITMAP *saved = FormForSaving(bitmap, format);
  if (saved == NULL) return 0;
  if (saved != bitmap) CarryPhotoData(bitmap, saved);
  int ok = SaveSafely(saved, format, path, quality);
  if (saved != bitmap) FreeImage_Unload(saved);
  return ok;
}

static int FitsInt(int64_t value) {
  return value >= INT_MIN && value <= INT_MAX;
}

// An edit's result in place of its source: with what the photo carries.
static FIBITMAP *Carried(FIBITMAP *source, FIBITMAP *result) {
  CarryPhotoData(source, result);
  return result;
}

FIBITMAP *CropImage(FIBITMAP *bitmap, int x, int y, int w, int h) {
  int64_t right = (int64_t)x + w;
  int64_t bottom = (int64_t)y + h;
  if (!FitsInt(right) || !FitsInt(bottom)) return NULL;
  return Carried(bitmap, FreeImage_Copy(bitmap, x, y, (int)right, (int)bottom));
}

// The library brings large angles into range one turn at a time, which never
// ends for angles like 1e300; whole turns are taken off here instead.
FIBITMAP *RotateImage(FIBITMAP *bitmap, double angle) {
  if (!isfinite(angle)) return NULL;
  if (fabs(angle) >= 360) angle = fmod(angle, 360);
  return Carried(bitmap, RotateInForm(bitmap, angle));
}

int FlipImageHorizontal(FIBITMAP *bitmap) {
  return FlipHorizontalInForm(bitmap);
}

int FlipImageVertical(FIBITMAP *bitmap) {
  return FreeImage_FlipVertical(bitmap);
}

void ResizeTarget(int64_t W, int64_t H, int width, int height,
                  int64_t *new_width, int64_t *new_height) {
  *new_width = *new_height = 0;
  if (W <= 0 || H <= 0) return;  // nothing to be in proportion to
  int64_t w = width;
  int64_t h = height;
  // A side in proportion is at least a pixel: a 3 x 1000 strip made 100 high
  // is 1 wide, where rounding down would leave nothing to resize to.
  if (w <= 0) {
    if (h <= 0) h = 128;
    w = W * h / H;
    if (w < 1) w = 1;
  }
  if (h <= 0) {
    h = H * w / W;
    if (h < 1) h = 1;
  }
  *new_width = w;
  *new_height = h;
}

FIBITMAP *ResizeImage(FIBITMAP *bitmap, int width, int height) {
  int64_t w, h;
  ResizeTarget(FreeImage_GetWidth(bitmap), FreeImage_GetHeight(bitmap), width,
               height, &w, &h);
  if (w <= 0 || h <= 0 || !FitsInt(w) || !FitsInt(h)) return NULL;
  return Carried(bitmap, RescaleInForm(bitmap, (int)w, (int)h));
}

void ReleaseImage(FIBITMAP *bitmap) { FreeImage_Unload(bitmap); }
