// The one safe save: what the writer makes, with the photo's metadata
// placed into it, goes to a fresh file beside the target, which replaces the
// target only once it is whole.
#include <FreeImage.h>
#include <errno.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#include "image/imagefile.h"
#include "image/metadata/record.h"
#include "image/pixels/carry.h"
#include "image/pixels/forms.h"
#include "platform/platform.h"

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
