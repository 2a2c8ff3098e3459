// Loading: the file read once, judged from its headers, shown to the library
// in a form it reads, and put into the form every edit and writer takes.
#include <FreeImage.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "image/load/bmp_load.h"
#include "image/pixels/carry.h"
#include "image/load/claims.h"
#include "image/load/cost.h"
#include "image/metadata/record.h"
#include "image/pixels/forms.h"
#include "image/containers/header_fields.h"
#include "image/containers/headers.h"
#include "image/containers/jpeg_markers.h"
#include "image/imagefile.h"
#include "image/load/load.h"
#include "image/load/png_gamma.h"
#include "image/load/picture_only.h"
#include "image/load/shown_bytes.h"
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
      return "There is no such file.";
    case kFileIsFolder:
      return "It is a folder, not a file.";
    case kFileNotPlain:
      return "It is not a plain file but a device or a pipe.";
    case kFileDenied:
      return "You have no permission to read it.";
    default:
      return "It could not be read (an input/output error).";
  }
}

// Formats a user meets that Orvane doesn't read, by their signatures.
static const char *OtherFormatName(const unsigned char *data, size_t size) {
  static const struct {
    const char *signature;
    size_t length;
    const char *name;
  } kOthers[] = {
      {"GIF8", 4, "a GIF image"},
      {"II*\0", 4, "a TIFF image"},
      {"MM\0*", 4, "a TIFF image"},
      {"RIFF", 4, "a RIFF file (WebP or other)"},
      {"\0\0\0", 3, "an HEIC, AVIF or other ISO media file"},
      {"%PDF", 4, "a PDF document"},
  };
  for (const auto &other : kOthers)
    if (size >= other.length &&
        memcmp(data, other.signature, other.length) == 0)
      return other.name;
  return NULL;
}

// Why bytes of no format Orvane reads can't be loaded, from their content.
static FIBITMAP *NotAnImage(const unsigned char *data, size_t size,
                            LoadFailure *failure);

static uint64_t Megabytes(uint64_t bytes) { return (bytes + 999999) / 1000000; }

// The JPEG decoder's size request for a reduction: it divides by the
// largest of 2, 4 and 8 that keeps at least this many pixels on the longer
// side, which is then the one asked for. 0 asks for the whole picture.
static int SizeWanted(const ImageHeaders *headers, int reduction) {
  if (reduction <= 1 || headers->format != kFormatJpeg || !headers->read)
    return 0;
  int64_t longer = headers->jpeg.width > headers->jpeg.height
                       ? headers->jpeg.width
                       : headers->jpeg.height;
  return (int)(longer / reduction);
}

// The library decodes the picture alone, as shown; a PNG's palette gets its
// gamma.
static FIBITMAP *LoadShown(const unsigned char *data, size_t size,
                           const ImageHeaders *headers, int reduction,
                           LoadFailure *failure) {
  FIBITMAP *loaded = NULL;
  if (headers->format == kFormatBmp) {
    loaded = LoadBmpBytes(data, size, headers->read ? &headers->bmp : NULL);
  } else {
    ShownBytes shown;
    if (!PictureOnly(data, size, headers, &shown))
      return Fail(failure, kImageTooLarge,
                  "Not enough memory to read its picture apart from its "
                  "metadata.");
    loaded = LoadShownBytes(headers->format, &shown, failure,
                            SizeWanted(headers, reduction));
    free((void *)shown.spans);
  }
  if (loaded == NULL)
    return Fail(failure, kImageUndecodable,
                "The image library could not decode it; it may be damaged.");
  // A grey PNG's gamma needs its samples loaded once more; without memory
  // for that, the picture would be left in other greys than the file's.
  if (headers->format == kFormatPng && headers->read &&
      !CorrectPngPaletteGamma(loaded, &headers->png)) {
    FreeImage_Unload(loaded);
    return Fail(failure, kImageTooLarge,
                "Not enough memory to load its grey samples again.");
  }
  return loaded;
}

// The loaded bitmap in the form the edits and writers take, with the
// profile the photo's head holds and nothing else of the library's reading.
static FIBITMAP *InWorkingForm(FIBITMAP *loaded, const ImageHeaders *headers,
                               const PhotoMetadata *metadata) {
  ForgetLibraryMetadata(loaded);
  FIBITMAP *bitmap = FormAfterLoad(loaded, headers->format);
  if (bitmap != loaded) {
    CarryPhotoData(loaded, bitmap);
    FreeImage_Unload(loaded);
  }
  if (bitmap != NULL) AttachHeadProfile(bitmap, headers, metadata);
  return bitmap;
}

// The bytes' format and what their headers claim, judged before any
// memory is set aside for the picture. 0 with *failure filled in.
static int Judged(const unsigned char *data, size_t size,
                  ImageHeaders *headers, LoadFailure *failure) {
  ImageFormat format = ImageFormatOfBytes(data, size);
  if (format == kFormatNone) {
    NotAnImage(data, size, failure);
    return 0;
  }
  ReadImageHeaders(data, size, format, headers);
  char claim[kFailureReasonSize];
  if (ClaimsMoreThanItHolds(headers, claim, sizeof claim)) {
    Fail(failure, kImageDamaged, "It looks damaged: %s.", claim);
    return 0;
  }
  return 1;
}

// What the decode takes besides the file's bytes: the load, and the copy a
// JPEG or PNG makes of its metadata, a part of them at most (the library is
// shown the picture's bytes where they lie).
static uint64_t DecodeCost(const ImageHeaders *headers, size_t size,
                           int reduction) {
  uint64_t copies = headers->format == kFormatBmp ? 0 : (uint64_t)size;
  return LoadCost(headers, reduction) + copies;
}

// The picture alone, decoded with its sides divided by reduction; the
// metadata read already, so that what the library is never shown (a JPEG's
// profile) is at hand when the pixels are settled.
static FIBITMAP *DecodeJudged(const unsigned char *data, size_t size,
                              const ImageHeaders *headers, int reduction,
                              const PhotoMetadata *metadata,
                              LoadFailure *failure) {
  // Measured with the file's bytes already taken.
  uint64_t cost = DecodeCost(headers, size, reduction);
  uint64_t available = PlatformAvailableMemory();
  if (cost > available)
    return Fail(failure, kImageTooLarge,
                "Not enough memory: loading it takes %llu MB; %llu MB are "
                "free.",
                (unsigned long long)Megabytes(cost),
                (unsigned long long)(available / 1000000));
  FIBITMAP *loaded = LoadShown(data, size, headers, reduction, failure);
  FIBITMAP *bitmap =
      loaded != NULL ? InWorkingForm(loaded, headers, metadata) : NULL;
  if (loaded != NULL && bitmap == NULL)
    Fail(failure, kImageTooLarge, "Not enough memory for its working form.");
  return bitmap;
}

static FIBITMAP *LoadJudged(const unsigned char *data, size_t size,
                            const ImageHeaders *headers, LoadFailure *failure,
                            PhotoMetadata *metadata) {
  PhotoMetadata unasked;
  if (metadata == NULL) metadata = &unasked;
  ReadPhotoMetadata(data, size, headers->format, metadata);
  FIBITMAP *bitmap = DecodeJudged(data, size, headers, 1, metadata, failure);
  if (bitmap == NULL || metadata == &unasked) ReleasePhotoMetadata(metadata);
  return bitmap;
}

static FIBITMAP *NotAnImage(const unsigned char *data, size_t size,
                            LoadFailure *failure) {
  if (size == 0) return Fail(failure, kImageNotAnImage, "The file is empty.");
  const char *other = OtherFormatName(data, size);
  if (other != NULL)
    return Fail(failure, kImageNotAnImage,
                "It holds %s; Orvane reads JPEG, PNG and BMP.", other);
  return Fail(failure, kImageNotAnImage,
              "It is not a JPEG, PNG or BMP image.");
}

int ReadJudgedImage(const char *path, MappedFile *file, ImageHeaders *headers,
                    LoadFailure *failure) {
  if (ImageFormatOf(path) == kFormatNone) {
    Fail(failure, kImageNoFormat,
         "Its name ends in none of .jpg, .jpeg, .png and .bmp.");
    return 0;
  }
  FileReadError read_error;
  if (!PlatformMapFile(path, file, &read_error)) {
    Fail(failure, kImageUnreadable, "%s", ReadErrorText(read_error));
    return 0;
  }
  *failure = LoadFailure{};  // loaded, sound
  if (Judged(file->data, file->size, headers, failure)) return 1;
  PlatformUnmapFile(file);
  return 0;
}

FIBITMAP *LoadImageByName(const char *path, LoadFailure *failure,
                          PhotoMetadata *metadata) {
  MappedFile file;
  ImageHeaders headers;
  if (!ReadJudgedImage(path, &file, &headers, failure)) return NULL;
  FIBITMAP *bitmap =
      LoadJudged(file.data, file.size, &headers, failure, metadata);
  PlatformUnmapFile(&file);
  return bitmap;
}

FIBITMAP *LoadImageBytes(const unsigned char *data, size_t size,
                         LoadFailure *failure, PhotoMetadata *metadata) {
  *failure = LoadFailure{};  // loaded, sound
  ImageHeaders headers;
  if (!Judged(data, size, &headers, failure)) return NULL;
  return LoadJudged(data, size, &headers, failure, metadata);
}

// The headers and the file's bytes, kept together while the photo is open.
struct OpenedFile {
  ImageHeaders headers;
  MappedFile file;
};

int OpenImageByName(const char *path, OpenedImage *image, LoadFailure *failure,
                    PhotoMetadata *metadata) {
  *image = OpenedImage{};
  OpenedFile *opened = (OpenedFile *)malloc(sizeof *opened);
  if (opened == NULL) {
    Fail(failure, kImageTooLarge, "Not enough memory to read it.");
    return 0;
  }
  if (!ReadJudgedImage(path, &opened->file, &opened->headers, failure)) {
    free(opened);
    return 0;
  }
  ImageHeaders *headers = &opened->headers;
  image->opened = opened;
  image->data = opened->file.data;
  image->size = opened->file.size;
  image->headers = headers;
  image->format = headers->format;
  if (headers->read) ImageHeadersSize(headers, &image->width, &image->height);
  ReadPhotoMetadata(image->data, image->size, image->format, metadata);
  return 1;
}

int LargestReduction(const OpenedImage *image, int64_t least_width,
                     int64_t least_height) {
  if (image->format != kFormatJpeg || image->width <= 0) return 1;
  for (int reduction = 8; reduction > 1; reduction /= 2)
    if (ReducedSide(image->width, reduction) >= least_width &&
        ReducedSide(image->height, reduction) >= least_height)
      return reduction;
  return 1;
}

FIBITMAP *DecodeOpenedImage(const OpenedImage *image, int reduction,
                            const PhotoMetadata *metadata,
                            LoadFailure *failure) {
  return DecodeJudged(image->data, image->size, image->headers, reduction,
                      metadata, failure);
}

void ForecastDecode(const OpenedImage *image, int reduction,
                    DecodeForecast *forecast) {
  *forecast = DecodeForecast{};
  if (!image->headers->read) return;
  if (reduction < 1) reduction = 1;
  forecast->bytes =
      image->size + DecodeCost(image->headers, image->size, reduction);
  forecast->width = ReducedSide(image->width, reduction);
  forecast->height = ReducedSide(image->height, reduction);
  forecast->bits = LoadedPictureBits(image->headers);
}

void CloseImage(OpenedImage *image) {
  if (image->opened != NULL) PlatformUnmapFile(&image->opened->file);
  free(image->opened);
  *image = OpenedImage{};
}
