// The EXIF block's reading and mending on any bytes: never outside them,
// and what it mends reads and mends again as it should.
#include <stdlib.h>

#include "image/metadata/exif_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int orientation = ExifOrientation(data, size);
  if (orientation < 0 || orientation > 8) abort();
  for (int drop = 0; drop <= 1; drop++) {
    ExifChanges changes = {123, 45, drop, 1, drop};  // drop: written anew
    size_t mended_size = 0;
    unsigned char *mended = EditExifBlock(data, size, &changes, &mended_size);
    if (mended == NULL) continue;
    if (mended_size > size) abort();
    int after = ExifOrientation(mended, mended_size);
    if (after > 1 || (orientation != 0 && after != 1)) abort();
    if (drop) {
      size_t again_size = 0;
      unsigned char *again =
          EditExifBlock(mended, mended_size, &changes, &again_size);
      if (again == NULL || again_size > mended_size) abort();
      free(again);
    }
    free(mended);
  }
  // What goes where the block can't go whole: it reads whole, and keeps
  // the orientation IFD0 gave.
  size_t ifd0_size = 0;
  unsigned char *ifd0 = Ifd0ExifBlock(data, size, &ifd0_size);
  if (orientation != 0 && ifd0 == NULL) abort();
  if (ifd0 != NULL && (!ExifBlockReadable(ifd0, ifd0_size) ||
                       ExifOrientation(ifd0, ifd0_size) != orientation))
    abort();
  free(ifd0);
  return 0;
}
