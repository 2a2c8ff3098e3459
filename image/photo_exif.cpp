#include "image/photo_exif.h"

#include <FreeImage.h>
#include <stdlib.h>

#include "image/exif_block.h"
#include "image/imagefile.h"

static const char kRawExifKey[] = "ExifRaw";

const unsigned char *RawExifOf(FIBITMAP *bitmap, size_t *size) {
  FITAG *tag = NULL;
  if (!FreeImage_GetMetadata(FIMD_EXIF_RAW, bitmap, kRawExifKey, &tag) ||
      FreeImage_GetTagLength(tag) == 0)
    return NULL;
  *size = FreeImage_GetTagLength(tag);
  return (const unsigned char *)FreeImage_GetTagValue(tag);
}

static void LeaveOutExif(FIBITMAP *bitmap) {
  static const FREE_IMAGE_MDMODEL kExifModels[] = {
      FIMD_EXIF_MAIN,      FIMD_EXIF_EXIF,    FIMD_EXIF_GPS,
      FIMD_EXIF_MAKERNOTE, FIMD_EXIF_INTEROP, FIMD_EXIF_RAW};
  for (FREE_IMAGE_MDMODEL model : kExifModels)
    FreeImage_SetMetadata(model, bitmap, NULL, NULL);
}

static int SetRawExif(FIBITMAP *bitmap, const unsigned char *block,
                      size_t size) {
  FITAG *tag = FreeImage_CreateTag();
  int set = tag != NULL && FreeImage_SetTagKey(tag, kRawExifKey) &&
            FreeImage_SetTagType(tag, FIDT_BYTE) &&
            FreeImage_SetTagCount(tag, (DWORD)size) &&
            FreeImage_SetTagLength(tag, (DWORD)size) &&
            FreeImage_SetTagValue(tag, block) &&
            FreeImage_SetMetadata(FIMD_EXIF_RAW, bitmap, kRawExifKey, tag);
  if (tag != NULL) FreeImage_DeleteTag(tag);
  return set;
}

// The library loads the camera's thumbnail into the bitmap's own, which its
// JPEG writer writes as a JFIF extension, and keeps it on a flip.
void LeaveOutThumbnail(FIBITMAP *bitmap) {
  FreeImage_SetThumbnail(bitmap, NULL);
}

// The tags the library parsed are left as they were read: no writer of its
// writes them, and the program reads only the block.
void RetellGeometry(FIBITMAP *bitmap, int upright) {
  if (bitmap == NULL) return;
  LeaveOutThumbnail(bitmap);
  size_t size = 0;
  const unsigned char *block = RawExifOf(bitmap, &size);
  if (block == NULL) return;
  ExifChanges changes = {FreeImage_GetWidth(bitmap),
                         FreeImage_GetHeight(bitmap), 1, upright};
  size_t mended_size = 0;
  unsigned char *mended = EditExifBlock(block, size, &changes, &mended_size);
  if (mended == NULL || !SetRawExif(bitmap, mended, mended_size))
    LeaveOutExif(bitmap);
  free(mended);
}

int PhotoOrientation(FIBITMAP *bitmap) {
  size_t size = 0;
  const unsigned char *block = RawExifOf(bitmap, &size);
  return block != NULL ? ExifOrientation(block, size) : 0;
}

static uint32_t DotsPerInch(unsigned dots_per_meter) {
  return (uint32_t)(dots_per_meter * 0.0254 + 0.5);
}

// The ICC profile is no metadata of this kind: without it colours change.
// Nor is the orientation: without it a portrait photo shows on its side, so
// a tag other than 1 stays, alone in a block that says nothing else.
void StripPhotoMetadata(FIBITMAP *bitmap) {
  size_t size = 0;
  unsigned char *orientation = OrientationOnlyExifBlock(
      PhotoOrientation(bitmap), DotsPerInch(FreeImage_GetDotsPerMeterX(bitmap)),
      DotsPerInch(FreeImage_GetDotsPerMeterY(bitmap)), &size);
  LeaveOutExif(bitmap);
  if (orientation != NULL) SetRawExif(bitmap, orientation, size);
  free(orientation);
  LeaveOutThumbnail(bitmap);
  FreeImage_SetMetadata(FIMD_IPTC, bitmap, NULL, NULL);
  FreeImage_SetMetadata(FIMD_XMP, bitmap, NULL, NULL);
}
