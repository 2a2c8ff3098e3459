// The XMP packet's reading and mending on any bytes: never outside them,
// and what it mends reads and mends again as it should.
#include <stdlib.h>
#include <string.h>

#include "image/metadata/xmp_packet.h"

// With an edit, what is left out may take the orientation with it: never
// an orientation other than 1 stays.
static void MendsAsItShould(const uint8_t *data, size_t size, int orientation,
                            int edit) {
  XmpChanges changes = {123456, 7, 1, 1, edit, 1};
  size_t mended_size = 0;
  unsigned char *mended = MendXmpPacket(data, size, &changes, &mended_size);
  // An orientation is read only from a packet that can be mended.
  if (mended == NULL) {
    if (orientation != 0) abort();
    return;
  }
  int after = XmpOrientation(mended, mended_size);
  if (after > 1 || (!edit && orientation != 0 && after != 1)) abort();
  size_t again_size = 0;
  unsigned char *again =
      MendXmpPacket(mended, mended_size, &changes, &again_size);
  // Mending twice changes nothing more.
  if (again == NULL || again_size != mended_size ||
      memcmp(again, mended, mended_size) != 0)
    abort();
  free(again);
  free(mended);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int orientation = XmpOrientation(data, size);
  if (orientation < 0 || orientation > 8) abort();
  MendsAsItShould(data, size, orientation, 0);
  MendsAsItShould(data, size, orientation, 1);
  size_t kept_size = 0;
  XmpChanges none = {};
  unsigned char *kept = MendXmpPacket(data, size, &none, &kept_size);
  // Nothing asked, nothing changed.
  if ((orientation != 0 && kept == NULL) ||
      (kept != NULL && (kept_size != size || memcmp(kept, data, size) != 0)))
    abort();
  free(kept);
  return 0;
}
