#include "image/pixels/carry.h"

#include <FreeImage.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "image/containers/png_chunks.h"
#include "lib/byteorder.h"

// libpng's default limit on the memory an ancillary chunk may take.
static const uint32_t kLargestProfile = 8000000;

// The profile inside iCCP data: a name of 1 to 79 bytes, its NUL, the
// compression method (0, deflate), then the deflated profile.
static void AttachIccpProfile(FIBITMAP *bitmap, const unsigned char *chunk,
                              uint32_t length) {
  const unsigned char *end =
      (const unsigned char *)memchr(chunk, 0, length < 80 ? length : 80);
  if (end == NULL || end == chunk || end + 2 >= chunk + length || end[1] != 0)
    return;
  uint32_t inflated = 0;
  unsigned char *profile =
      InflatePngData(end + 2, (size_t)(chunk + length - (end + 2)),
                     kLargestProfile, &inflated);
  if (profile == NULL) return;
  if (ProfileLooksWhole(profile, inflated))
    FreeImage_CreateICCProfile(bitmap, profile, (long)inflated);
  free(profile);
}

// Debian's build of the library (its patch for compatibility with the
// system's libpng) hands libpng a null pointer for the profile data, so
// libpng returns nothing and every PNG loads without its profile. The iCCP
// chunk is taken here instead, as libpng would have given it.
static void AttachPngProfile(FIBITMAP *bitmap, const PngChunks *png) {
  if (png->profile_chunk == NULL || png->profile_chunk_length > kLargestProfile)
    return;
  AttachIccpProfile(bitmap, png->profile_chunk, png->profile_chunk_length);
}

// A V5 BMP's embedded profile: the library's reader skips the V5 fields
// that say where it lies.
static void AttachBmpProfile(FIBITMAP *bitmap, const BmpHeader *bmp) {
  if (bmp->profile != NULL && ProfileLooksWhole(bmp->profile, bmp->profile_size))
    FreeImage_CreateICCProfile(bitmap, (void *)bmp->profile,
                               (long)bmp->profile_size);
}

// The colour components that pixels of this colour type are written in.
static int ComponentsOf(FIBITMAP *bitmap) {
  switch (FreeImage_GetColorType(bitmap)) {
    case FIC_MINISBLACK:
    case FIC_MINISWHITE:
      return 1;
    case FIC_CMYK:
      return 4;
    default:
      return 3;
  }
}

// Whether a profile is for the colours the bitmap's pixels are in.
static int ProfileFits(const FIICCPROFILE *profile, FIBITMAP *bitmap) {
  return ProfileSuits((const unsigned char *)profile->data,
                      profile->size > 0 ? (size_t)profile->size : 0,
                      ComponentsOf(bitmap));
}

// The library copies the metadata and the resolution on a rotate and a
// resize but not the ICC profile, without which an Adobe RGB photo looks
// washed out; its crop copies all three, and its conversions none. Everything
// is carried here, so that no replacement, whatever made it, loses any of
// it; a profile only to pixels in its colours (a palette turned to grey must
// not go out with a colour profile).
void CarryPhotoData(FIBITMAP *from, FIBITMAP *to) {
  if (from == NULL || to == NULL || from == to) return;
  FIICCPROFILE *profile = FreeImage_GetICCProfile(from);
  if (profile->size > 0 && ProfileFits(profile, to))
    FreeImage_CreateICCProfile(to, profile->data, profile->size);
  // After the profile: making one drops the EXIF tag that points at it.
  FreeImage_CloneMetadata(to, from);
}

static void AttachJpegProfile(FIBITMAP *bitmap,
                              const PhotoMetadata *metadata) {
  size_t size = 0;
  unsigned char *profile = MetadataProfile(metadata, &size);
  if (profile != NULL && ProfileLooksWhole(profile, (uint32_t)size))
    FreeImage_CreateICCProfile(bitmap, profile, (long)size);
  free(profile);
}

void AttachHeadProfile(FIBITMAP *bitmap, const ImageHeaders *headers,
                       const PhotoMetadata *metadata) {
  // What the library attached came from bytes it was shown; the file's own
  // profile, where its readers look for it, is taken here alone.
  FreeImage_DestroyICCProfile(bitmap);
  if (headers->format == kFormatJpeg) AttachJpegProfile(bitmap, metadata);
  if (headers->format == kFormatPng && headers->read)
    AttachPngProfile(bitmap, &headers->png);
  if (headers->format == kFormatBmp && headers->read)
    AttachBmpProfile(bitmap, &headers->bmp);
  // The library loads a CMYK JPEG as RGB: its CMYK profile, written out
  // with RGB pixels, would make an invalid file.
  FIICCPROFILE *profile = FreeImage_GetICCProfile(bitmap);
  if (profile->size > 0 && !ProfileFits(profile, bitmap))
    FreeImage_DestroyICCProfile(bitmap);
}

void ForgetLibraryMetadata(FIBITMAP *bitmap) {
  for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; model++)
    FreeImage_SetMetadata((FREE_IMAGE_MDMODEL)model, bitmap, NULL, NULL);
  FreeImage_SetThumbnail(bitmap, NULL);
}
