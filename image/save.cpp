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
// the first write error, which says why a save failed, and the metadata
// placed as the writer's bytes stream past: the head of its output is held
// back until the place shows in it, then written with the pieces in it.
struct SaveTarget {
  FILE *file;
  int write_error;  // errno of the first failed write, or 0
  ImageFormat format;
  const unsigned char *pieces;  // NULL: nothing (left) to place
  size_t pieces_size;
  unsigned char *head;  // what the writer gave while the place is unknown
  size_t head_size, head_room;
  int unplaced;  // 1: no place in the output; -1: no memory for its head
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

// Writes the head with the pieces at their place once it is found (whole:
// the writer is done, so the head is all there is).
static void PlaceWhenFound(SaveTarget *target, int whole) {
  size_t at = 0;
  int found = PlaceInHead(target->head, target->head_size, target->format,
                          whole, &at);
  if (found == 0) return;
  if (found < 0) {
    target->unplaced = 1;
  } else {
    Write(target, target->head, 1, at);
    Write(target, target->pieces, 1, target->pieces_size);
    Write(target, target->head + at, 1, target->head_size - at);
  }
  free(target->head);
  target->head = NULL;
  target->pieces = NULL;
}

static int HoldBack(SaveTarget *target, const void *buffer, size_t size) {
  if (target->head_size + size > target->head_room) {
    size_t room = 2 * (target->head_size + size);
    unsigned char *grown = (unsigned char *)realloc(target->head, room);
    if (grown == NULL) return 0;
    target->head = grown;
    target->head_room = room;
  }
  memcpy(target->head + target->head_size, buffer, size);
  target->head_size += size;
  return 1;
}

static unsigned DLL_CALLCONV WriteToFile(void *buffer, unsigned size,
                                         unsigned count, fi_handle handle) {
  SaveTarget *target = (SaveTarget *)handle;
  if (target->unplaced) return count;  // the save fails; nothing matters
  if (target->pieces == NULL)
    return (unsigned)Write(target, buffer, size, count);
  if (!HoldBack(target, buffer, (size_t)size * count)) {
    target->unplaced = -1;
    return count;
  }
  PlaceWhenFound(target, 0);
  return count;
}

// The writers never move back while their head is held; were one to, the
// save fails rather than write in the wrong place.
static int DLL_CALLCONV SeekInFile(fi_handle handle, long offset, int origin) {
  SaveTarget *target = (SaveTarget *)handle;
  if (target->pieces != NULL) return -1;
  return fseek(target->file, offset, origin);
}

static long DLL_CALLCONV TellInFile(fi_handle handle) {
  SaveTarget *target = (SaveTarget *)handle;
  long at = ftell(target->file);
  return target->pieces != NULL ? at + (long)target->head_size : at;
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

// What a save writes: a bitmap that the library encodes, with metadata
// pieces placed into it, or bytes made already (a JPEG transformed
// losslessly).
struct Content {
  FIBITMAP *bitmap;  // NULL: the bytes
  ImageFormat format;
  int flags;
  const unsigned char *bytes;
  size_t size;
  const unsigned char *pieces;  // the metadata, laid out; NULL: none
  size_t pieces_size;
};

// 1, or 0 when the library could not encode the bitmap.
static int WriteContent(const Content *content, SaveTarget *target) {
  if (content->bitmap == NULL) {
    Write(target, content->bytes, 1, content->size);
    return 1;
  }
  FreeImageIO io = {ReadFromFile, WriteToFile, SeekInFile, TellInFile};
  int encoded = FreeImage_SaveToHandle((FREE_IMAGE_FORMAT)content->format,
                                       content->bitmap, &io, (fi_handle)target,
                                       content->flags);
  if (encoded && target->pieces != NULL) PlaceWhenFound(target, 1);
  free(target->head);
  return encoded;
}

static SaveOutcome SaveToFile(const Content *content, const char *path,
                              SaveFailure *failure) {
  SaveTarget target = {fopen(path, "w+b"), 0, content->format,
                       content->pieces, content->pieces_size, NULL, 0, 0, 0};
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
  if (target.unplaced != 0) {
    snprintf(failure->reason, sizeof failure->reason,
             target.unplaced > 0
                 ? "The %s the image library wrote has no place for its "
                   "metadata."
                 : "Not enough memory to place its metadata into the %s.",
             FormatName(content->format));
    return kNotWritten;
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

// The metadata's pieces go into the writer's output as it is written, so
// that no copy of the whole is ever held; a BMP has no place for them.
static SaveOutcome SaveContent(const Content *content,
                               const PhotoMetadata *metadata, const char *path,
                               SaveFailure *failure) {
  if (metadata == NULL || metadata->count == 0 ||
      content->format == kFormatBmp)
    return SaveSafely(content, path, failure);
  Content placing = *content;
  unsigned char *pieces = MetadataPieces(metadata, content->format, 0,
                                         &placing.pieces_size);
  if (pieces == NULL) {
    snprintf(failure->reason, sizeof failure->reason,
             "Not enough memory to place its metadata into the %s.",
             FormatName(content->format));
    return kNotWritten;
  }
  placing.pieces = placing.pieces_size > 0 ? pieces : NULL;
  SaveOutcome outcome = SaveSafely(&placing, path, failure);
  free(pieces);
  return outcome;
}

// libpng's writer refuses some profiles that its reader took (a white point
// other than D50, a colour space that doesn't match the pixels); the picture
// is worth more than the profile, so it is saved again without one.
static SaveOutcome SaveWithProfileIfTaken(FIBITMAP *saved, ImageFormat format,
                                          const char *path, int quality,
                                          const PhotoMetadata *metadata,
                                          SaveFailure *failure) {
  Content content = {saved, format, SaveFlagsFor(format, quality), NULL, 0,
                     NULL, 0};
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
  Content content = {NULL, ImageFormatOf(path), 0, bytes, size, NULL, 0};
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
