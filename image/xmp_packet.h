// Placeholder until the XMP mender lands.
#ifndef ORVANE_IMAGE_XMP_PACKET_H
#define ORVANE_IMAGE_XMP_PACKET_H

#include <stddef.h>
#include <stdint.h>

struct XmpChanges {
  int64_t width, height;
  int upright;
};
int XmpOrientation(const unsigned char *packet, size_t size);
unsigned char *MendXmpPacket(const unsigned char *packet, size_t size,
                             const XmpChanges *changes, size_t *new_size);

#endif
