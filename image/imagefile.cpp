#include "image/imagefile.h"

#include <FreeImage.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "image/carry.h"
#include "image/forms.h"
#include "image/metadata.h"
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

// The library's own stdio plumbing, as its path-taking save uses it, plus
// the first write error, which says why a save failed.
struct SaveTarget {
  FILE *file;
  int write_error;  // errno of the first failed write, or 0
};

static unsigned DLL_CALLCONV ReadFromFile(void *buffer, unsigned size,
                                          unsigned count, fi_handle handle) {
  return (unsigned)fread(buffer, size, count, ((SaveTarget *)handle)->file);
}

static size_t Write(SaveTarget *target, const void *buffer, size_t size,
                    size_t count) {
  size_t written = fwrite(buffer, size, count, target->file);
  if (written < count && target->write_error == 0) target->write_error = errno;
  return written;
}

static unsigned DLL_CALLCONV WriteToFile(void *buffer, unsigned size,
                                         unsigned count, fi_handle handle) {
  return (unsigned)Write((SaveTarget *)handle, buffer, size, count);
}

static int DLL_CALLCONV SeekInFile(fi_handle handle, long offset, int origin) {
  return fseek(((SaveTarget *)handle)->file, offset, origin);
}

static long DLL_CALLCONV TellInFile(fi_handle handle) {
  return ftell(((SaveTarget *)handle)->file);
}

static const char *FormatName(ImageFormat format) {
  return format == kFormatJpeg ? "JPEG" : format == kFormatPng ? "PNG" : "BMP";
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

static void WriteFailed(SaveFailure *failure, int error) {
  snprintf(failure->reason, sizeof failure->reason, "%s.", strerror(error));
}

// Saving by path, the library ignores the result of closing the file, so a
// disk that fills up on the last buffered write gave a short file and
// success (an empty photo, on a full disk). Here the flush and the close
// count.
enum SaveOutcome { kSaved, kNotWritten, kNotEncoded };

// What a save writes: a bitmap that the library encodes, or bytes made
// already (a JPEG transformed losslessly).
struct Content {
  FIBITMAP *bitmap;  // NULL: the bytes
  ImageFormat format;
  int flags;
  const unsigned char *bytes;
  size_t size;
};

// 1, or 0 when the library could not encode the bitmap.
static int WriteContent(const Content *content, SaveTarget *target) {
  if (content->bitmap == NULL) {
    Write(target, content->bytes, 1, content->size);
    return 1;
  }
  FreeImageIO io = {ReadFromFile, WriteToFile, SeekInFile, TellInFile};
  return FreeImage_SaveToHandle((FREE_IMAGE_FORMAT)content->format,
                                content->bitmap, &io, (fi_handle)target,
                                content->flags);
}

static SaveOutcome SaveToFile(const Content *content, const char *path,
                              SaveFailure *failure) {
  SaveTarget target = {fopen(path, "w+b"), 0};
  if (target.file == NULL) {
    WriteFailed(failure, errno);
    return kNotWritten;
  }
  int encoded = WriteContent(content, &target);
  if (fflush(target.file) != 0 && target.write_error == 0)
    target.write_error = errno;
  if (fclose(target.file) != 0 && target.write_error == 0)
    target.write_error = errno;
  if (target.write_error != 0) {
    WriteFailed(failure, target.write_error);
    return kNotWritten;
  }
  if (!encoded) {
    snprintf(failure->reason, sizeof failure->reason,
             "The image library could not write it as %s.",
             FormatName(content->format));
    return kNotEncoded;
  }
  return kSaved;
}

static SaveOutcome SaveSafely(const Content *content, const char *path,
                              SaveFailure *failure) {
  SafeSave save;
  if (!PlatformBeginSafeSave(path, &save)) {
    snprintf(failure->reason, sizeof failure->reason, "%s", save.reason);
    return kNotWritten;
  }
  SaveOutcome outcome = SaveToFile(content, save.temp, failure);
  if (outcome != kSaved) {
    PlatformAbandonSafeSave(&save);
    return outcome;
  }
  if (!PlatformFinishSafeSave(&save)) {
    snprintf(failure->reason, sizeof failure->reason, "%s", save.reason);
    return kNotWritten;
  }
  return kSaved;
}

// What the writer made, in memory, with the metadata's segments placed into
// it: a new heap copy (free it); NULL with *outcome saying why.
static unsigned char *EncodedWithMetadata(const Content *content,
                                          const PhotoMetadata *metadata,
                                          size_t *size, SaveOutcome *outcome,
                                          SaveFailure *failure) {
  FIMEMORY *memory = FreeImage_OpenMemory(NULL, 0);
  BYTE *encoded = NULL;
  DWORD encoded_size = 0;
  unsigned char *placed = NULL;
  *outcome = kNotEncoded;
  if (memory != NULL &&
      FreeImage_SaveToMemory((FREE_IMAGE_FORMAT)content->format,
                             content->bitmap, memory, content->flags) &&
      FreeImage_AcquireMemory(memory, &encoded, &encoded_size)) {
    *outcome = kNotWritten;
    placed = PlaceMetadata(encoded, encoded_size, content->format, metadata, 0,
                           size);
  }
  if (memory != NULL) FreeImage_CloseMemory(memory);
  if (placed == NULL && *outcome == kNotEncoded)
    snprintf(failure->reason, sizeof failure->reason,
             "The image library could not write it as %s.",
             FormatName(content->format));
  else if (placed == NULL)
    snprintf(failure->reason, sizeof failure->reason,
             "Not enough memory to place its metadata into the %s.",
             FormatName(content->format));
  return placed;
}

// A bitmap with metadata to place is written in memory first; one without
// (and every BMP, which has no place for it) straight to the file.
static SaveOutcome SaveContent(const Content *content,
                               const PhotoMetadata *metadata, const char *path,
                               SaveFailure *failure) {
  if (metadata == NULL || metadata->count == 0 ||
      content->format == kFormatBmp)
    return SaveSafely(content, path, failure);
  SaveOutcome outcome;
  size_t size = 0;
  unsigned char *bytes =
      EncodedWithMetadata(content, metadata, &size, &outcome, failure);
  if (bytes == NULL) return outcome;
  Content placed = {NULL, content->format, 0, bytes, size};
  outcome = SaveSafely(&placed, path, failure);
  free(bytes);
  return outcome;
}

// libpng's writer refuses some profiles that its reader took (a white point
// other than D50, a colour space that doesn't match the pixels); the picture
// is worth more than the profile, so it is saved again without one.
static SaveOutcome SaveWithProfileIfTaken(FIBITMAP *saved, ImageFormat format,
                                          const char *path, int quality,
                                          const PhotoMetadata *metadata,
                                          SaveFailure *failure) {
  Content content = {saved, format, SaveFlagsFor(format, quality), NULL, 0};
  SaveOutcome outcome = SaveContent(&content, metadata, path, failure);
  if (outcome != kNotEncoded || format != kFormatPng ||
      FreeImage_GetICCProfile(saved)->size == 0)
    return outcome;
  FreeImage_DestroyICCProfile(saved);
  return SaveContent(&content, metadata, path, failure);
}

int SaveBytesByName(const unsigned char *bytes, size_t size, const char *path,
                    SaveFailure *failure) {
  failure->reason[0] = '\0';
  Content content = {NULL, ImageFormatOf(path), 0, bytes, size};
  return SaveSafely(&content, path, failure) == kSaved;
}

// JFIF gives the resolution as 16-bit dots per inch, and the library
// converts dots per metre to it unchecked: past 65535 dpi the number wraps
// (undefined behaviour, and a wrong density in the file). Such a resolution,
// which no real image has, is saved as 72 dpi, the library's own default;
// the bitmap gets its own back afterwards.
struct Resolution {
  unsigned x, y;  // dots per metre
};

static Resolution ResolutionOf(FIBITMAP *bitmap) {
  return Resolution{FreeImage_GetDotsPerMeterX(bitmap),
                    FreeImage_GetDotsPerMeterY(bitmap)};
}

static void SetResolution(FIBITMAP *bitmap, Resolution resolution) {
  FreeImage_SetDotsPerMeterX(bitmap, resolution.x);
  FreeImage_SetDotsPerMeterY(bitmap, resolution.y);
}

static void LimitJpegResolution(FIBITMAP *saved, ImageFormat format) {
  const unsigned kMostDotsPerMetre = 2580137;  // 65535.5 dpi
  const Resolution kDefault = {2835, 2835};    // 72 dpi
  Resolution own = ResolutionOf(saved);
  if (format == kFormatJpeg &&
      (own.x >= kMostDotsPerMetre || own.y >= kMostDotsPerMetre))
    SetResolution(saved, kDefault);
}

int SaveImageByName(FIBITMAP *bitmap, const char *path, int quality,
                    SaveFailure *failure, const PhotoMetadata *metadata) {
  SaveFailure unasked;
  if (failure == NULL) failure = &unasked;
  failure->reason[0] = '\0';
  ImageFormat format = ImageFormatOf(path);
  if (format == kFormatNone) {
    snprintf(failure->reason, sizeof failure->reason,
             "Its name ends in none of .jpg, .jpeg, .png and .bmp.");
    return 0;
  }
  if (!FitsFormat(format, FreeImage_GetWidth(bitmap),
                  FreeImage_GetHeight(bitmap), failure->reason,
                  sizeof failure->reason))
    return 0;
  FIBITMAP *saved = FormForSaving(bitmap, format);
  if (saved == NULL) {
    snprintf(failure->reason, sizeof failure->reason,
             "Not enough memory to make the image ready for %s.",
             FormatName(format));
    return 0;
  }
  if (saved != bitmap) CarryPhotoData(bitmap, saved);
  Resolution own = ResolutionOf(saved);
  LimitJpegResolution(saved, format);
  int ok = SaveWithProfileIfTaken(saved, format, path, quality, metadata,
                                  failure) == kSaved;
  SetResolution(saved, own);
  if (saved != bitmap) FreeImage_Unload(saved);
  return ok;
}

static int FitsInt(int64_t value) {
  return value >= INT_MIN && value <= INT_MAX;
}

// An edit's result in place of its source, with its profile and resolution.
static FIBITMAP *Carried(FIBITMAP *source, FIBITMAP *result) {
  CarryPhotoData(source, result);
  return result;
}

// The library takes the rectangle's corners in either order, and refuses
// one that reaches outside the image or holds no pixel.
void CropTarget(int64_t W, int64_t H, int x, int y, int w, int h,
                int64_t *new_width, int64_t *new_height) {
  int64_t left = x, right = (int64_t)x + w, top = y, bottom = (int64_t)y + h;
  int inside = (left >= 0 && right >= 0 && left <= W && right <= W) &&
               (top >= 0 && bottom >= 0 && top <= H && bottom <= H);
  *new_width = inside ? llabs(w) : 0;
  *new_height = inside && *new_width > 0 ? llabs(h) : 0;
  if (*new_height == 0) *new_width = 0;
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

// Quarter turns swap the sides; other angles make the bounding box of the
// turned image, which the library rounds to the nearest pixel (a pixel more
// here, since this only guards memory).
void RotateTarget(int64_t W, int64_t H, double angle, int64_t *new_width,
                  int64_t *new_height) {
  *new_width = *new_height = 0;
  if (!isfinite(angle)) return;
  double turn = fmod(angle, 360);
  if (turn < 0) turn += 360;
  if (fmod(turn, 90) == 0) {
    int sideways = turn == 90 || turn == 270;
    *new_width = sideways ? H : W;
    *new_height = sideways ? W : H;
    return;
  }
  const double kRadiansPerDegree = 3.14159265358979323846 / 180;
  double c = fabs(cos(turn * kRadiansPerDegree));
  double s = fabs(sin(turn * kRadiansPerDegree));
  *new_width = (int64_t)ceil(W * c + H * s) + 1;
  *new_height = (int64_t)ceil(W * s + H * c) + 1;
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

uint64_t EditedImageBytes(FIBITMAP *bitmap, int64_t width, int64_t height) {
  unsigned bits = FreeImage_GetBPP(bitmap);
  if (bits < 24) bits = 24;
  long double bytes = (long double)width * height * bits / 8;
  return bytes >= (long double)UINT64_MAX ? UINT64_MAX : (uint64_t)bytes;
}

static uint32_t DotsPerInch(unsigned dots_per_metre) {
  return (uint32_t)(dots_per_metre * 0.0254 + 0.5);
}

void ImageDotsPerInch(FIBITMAP *bitmap, uint32_t *x, uint32_t *y) {
  *x = DotsPerInch(FreeImage_GetDotsPerMeterX(bitmap));
  *y = DotsPerInch(FreeImage_GetDotsPerMeterY(bitmap));
}

int ImageWidth(FIBITMAP *bitmap) { return (int)FreeImage_GetWidth(bitmap); }
int ImageHeight(FIBITMAP *bitmap) { return (int)FreeImage_GetHeight(bitmap); }

void ReleaseImage(FIBITMAP *bitmap) { FreeImage_Unload(bitmap); }
