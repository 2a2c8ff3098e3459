#include "app/image_carry.h"

#include <FreeImage.h>

// The library copies the metadata and the resolution on a rotate and a
// resize but not the ICC profile, without which an Adobe RGB photo looks
// washed out; its crop copies all three. Everything is carried here, so
// that no replacement, whatever made it, loses any of it.
void CarryPhotoData(FIBITMAP *from, FIBITMAP *to) {
  if (from == NULL || to == NULL || from == to) return;
  FIICCPROFILE *profile = FreeImage_GetICCProfile(from);
  if (profile->size > 0)
    FreeImage_CreateICCProfile(to, profile->data, profile->size);
  // After the profile: making one drops the EXIF tag that points at it.
  FreeImage_CloneMetadata(to, from);
}
