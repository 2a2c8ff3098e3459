// Loading: the file read once, judged from its headers, shown to the library
// in a form it reads, and settled into the form every edit and writer takes.
#include <FreeImage.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "image/bmp_load.h"
#include "image/carry.h"
#include "image/claims.h"
#include "image/cost.h"
#include "image/forms.h"
#include "image/headers.h"
#include "image/imagefile.h"
#include "image/png_gamma.h"
#include "image/shown_bytes.h"
#include "platform/platform.h"

__attribute__((format(printf, 3, 4))) static FIBITMAP *Fail(
    LoadFailure *failure, ImageError error, const char *format, ...) {
  failure->error = error;
  va_list values;
  va_start(values, format);
  vsnprintf(failure->reason, sizeof failure->reason, format, values);
  va_end(values);
  return NULL;
}

static const char *ReadErrorText(FileReadError error) {
  switch (error) {
    case kFileMissing:
      return "there is no such file";
    case kFileIsFolder:
      return "it is a folder";
    case kFileNotPlain:
      return "it is not a plain file";
    case kFileDenied:
      return "permission denied";
    default:
      return "it could not be read";
  }
}

static uint64_t Megabytes(uint64_t bytes) { return (bytes + 999999) / 1000000; }

// The library decodes the bytes as shown; a PNG's palette gets its gamma.
static FIBITMAP *LoadShown(const unsigned char *data, size_t size,
                           const ImageHeaders *headers) {
  if (headers->format == kFormatBmp)
    return LoadBmpBytes(data, size, headers->read ? &headers->bmp : NULL);
  ShownBytes shown = BytesAsTheyStand(data, size);
  FIBITMAP *loaded = LoadShownBytes(headers->format, &shown);
  if (loaded != NULL && headers->format == kFormatPng && headers->read)
    CorrectPngPaletteGamma(loaded, &headers->png);
  return loaded;
}

// The loaded bitmap in the form the edits and writers take, with what the
// photo carries.
static FIBITMAP *Settled(FIBITMAP *loaded, const ImageHeaders *headers) {
  FIBITMAP *bitmap = FormAfterLoad(loaded, headers->format);
  if (bitmap != loaded) {
    CarryPhotoData(loaded, bitmap);
    FreeImage_Unload(loaded);
  }
  if (bitmap != NULL) SettleLoadedProfile(bitmap, headers);
  return bitmap;
}

static FIBITMAP *LoadFromBytes(const unsigned char *data, size_t size,
                               ImageFormat format, LoadFailure *failure) {
  ImageHeaders headers;
  ReadImageHeaders(data, size, format, &headers);
  if (ClaimsMoreThanItHolds(&headers, failure->reason,
                            sizeof failure->reason)) {
    failure->error = kImageDamaged;
    return NULL;
  }
  // Measured with the file's bytes already taken.
  uint64_t cost = LoadCost(&headers), available = PlatformAvailableMemory();
  if (cost > available)
    return Fail(failure, kImageTooLarge,
                "loading it takes %llu MB; %llu MB are free",
                (unsigned long long)Megabytes(cost),
                (unsigned long long)(available / 1000000));
  FIBITMAP *loaded = LoadShown(data, size, &headers);
  if (loaded == NULL)
    return Fail(failure, kImageUndecodable, "the library could not decode it");
  FIBITMAP *bitmap = Settled(loaded, &headers);
  if (bitmap == NULL)
    return Fail(failure, kImageTooLarge, "no memory for its working form");
  return bitmap;
}

FIBITMAP *LoadImageByName(const char *path, LoadFailure *failure) {
  ImageFormat format = ImageFormatOf(path);
  if (format == kFormatNone)
    return Fail(failure, kImageNoFormat, "its name ends in no known format");
  size_t size;
  FileReadError read_error;
  unsigned char *data = PlatformReadWholeFile(path, &size, &read_error);
  if (data == NULL)
    return Fail(failure, kImageUnreadable, "%s", ReadErrorText(read_error));
  *failure = LoadFailure{kImageLoaded, ""};
  FIBITMAP *bitmap = LoadFromBytes(data, size, format, failure);
  free(data);
  return bitmap;
}
