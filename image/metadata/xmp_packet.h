// A photo's XMP packet, read and mended as the EXIF block is
// (image/metadata/exif_block.h), by tables of namespaces and properties
// (xmp_packet.cpp), one row each, that say what becomes of them:
// - on every save, the description of pictures and videos stored after the
//   JPEG's end, which are never written (a phone's Container directory and
//   its Item entries, the hdrgm gain-map properties, a motion photo's
//   GCamera:MicroVideo* and MotionPhoto*), is left out;
// - after an edit that changes the picture, only what the program
//   understands stays: the namespaces of plain text about the photo (dc,
//   xmp without xmp:Thumbnails, xmpRights, photoshop, Iptc4xmpCore and Ext
//   without image regions, plus, exif and exifEX without positions in the
//   frame, aux, and tiff's words about the camera); the sizes
//   (exif:PixelX/YDimension, tiff:ImageWidth/ImageLength) mended; every
//   other namespace left out, the panorama's cropped area (GPano), the raw
//   developer's crop and corrections (crs) and the document's history
//   (xmpMM but its IDs) among them;
// - tiff:Orientation becomes 1 when the picture was turned upright, and
//   the pointer to the packet's extension (xmpNote:HasExtendedXMP) goes
//   with the extension.
// A property is read as an attribute (tiff:Orientation="6") or an element
// (<tiff:Orientation>6</tiff:Orientation>), under whatever prefix the
// packet binds to its namespace; one left out goes whole, with all it holds.
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
  int picture_changed;    // keep only what the tables keep or mend
  int drop_trailer_pointers;  // leave out what describes bytes after the
                              // JPEG's end: on every save
};

// tiff:Orientation as the packet gives it, 1 to 8; 0 when none or
// unreadable, or when the packet can't be mended (read as a mending reads
// it, like ExifOrientation).
int XmpOrientation(const unsigned char *packet, size_t size);

// A new heap copy of *new_size bytes with the changes made where the packet
// gives those properties, or an unchanged copy when it gives none of them.
// NULL when its markup isn't read here (a DOCTYPE, CDATA, a default
// namespace, tags that don't nest) or it gives a number the changes mend
// in a form that can't be mended safely (twice, or holding markup), so the
// caller leaves the XMP out rather than keep an untrue value.
unsigned char *MendXmpPacket(const unsigned char *packet, size_t size,
                             const XmpChanges *changes, size_t *new_size);

#endif
