// The XMP packet's reading and mending on any bytes: never outside them,
// and what it mends reads and mends again as it should.
#include <stdlib.h>
#include <string.h>

#include "image/metadata/xmp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int orientation = XmpOrientation(data, size);
  if (orientation < 0 || orientation > 8) abort();
  XmpChanges changes = {123456, 7, 1};
  size_t mended_size = 0;
  unsigned char *mended = MendXmpPacket(data, size, &changes, &mended_size);
  // An orientation is read only from a packet that can be mended.
  if (mended == NULL) {
    if (orientation != 0) abort();
    return 0;
  }
  if (orientation != 0 && XmpOrientation(mended, mended_size) != 1) abort();
  size_t again_size = 0;
  unsigned char *again =
      MendXmpPacket(mended, mended_size, &changes, &again_size);
  // Mending twice changes nothing more.
  if (again == NULL || again_size != mended_size ||
      memcmp(again, mended, mended_size) != 0)
    abort();
  XmpChanges none = {0, 0, 0};
  unsigned char *kept = MendXmpPacket(data, size, &none, &again_size);
  if (kept == NULL || again_size != size || memcmp(kept, data, size) != 0)
    abort();
  free(kept);
  free(again);
  free(mended);
  return 0;
}
