// A photo's XMP packet, read and mended as the EXIF block is
// (image/metadata/exif_block.h): after an edit that changes the picture's geometry
// the packet must not keep the old size, nor an orientation that no longer
// holds. Only the three properties a geometry edit makes untrue are read:
// exif:PixelXDimension, exif:PixelYDimension and tiff:Orientation, and the
// pointer to the packet's extension (xmpNote:HasExtendedXMP), as
// attributes (tiff:Orientation="6") or as elements
// (<tiff:Orientation>6</tiff:Orientation>), under whatever prefixes the
// packet binds to their namespaces.
//
// The packet is the XML alone, without JPEG's "http://ns.adobe.com/xap/1.0/"
// signature, and need not end in NUL. Every routine reads only inside
// [packet, packet + size), in time linear in size.
//
// Ownership: MendXmpPacket returns a new heap packet (free it); the others
// neither take nor keep what they are given.
#ifndef ORVANE_IMAGE_METADATA_XMP_PACKET_H
#define ORVANE_IMAGE_METADATA_XMP_PACKET_H

#include <stddef.h>
#include <stdint.h>

struct XmpChanges {
  int64_t width, height;  // new exif:PixelXDimension / PixelYDimension; 0: keep
  int upright;            // tiff:Orientation becomes 1
  int drop_extension;     // xmpNote:HasExtendedXMP is left out
};

// tiff:Orientation as the packet gives it, 1 to 8; 0 when none or
// unreadable, or when the packet can't be mended (read as a mending reads
// it, like ExifOrientation).
int XmpOrientation(const unsigned char *packet, size_t size);

// A new heap copy of *new_size bytes with the changes made where the packet
// gives those properties, or an unchanged copy when it gives none of them.
// NULL when it gives one in a form that can't be mended safely (twice, or
// in a form not read here), so the caller leaves the XMP out rather than
// keep an untrue value.
unsigned char *MendXmpPacket(const unsigned char *packet, size_t size,
                             const XmpChanges *changes, size_t *new_size);

#endif
