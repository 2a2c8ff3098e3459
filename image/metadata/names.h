// The names that open the metadata segments a JPEG or PNG may carry, as the
// formats' owners fixed them, shared by the reader of the segments, the view
// shown to the library and the placing into a writer's output.
//
// Ownership: constants, and routines that borrow what they are given.
#ifndef ORVANE_IMAGE_METADATA_NAMES_H
#define ORVANE_IMAGE_METADATA_NAMES_H

#include <stddef.h>
#include <string.h>

#include "image/containers/header_fields.h"

// JPEG APPn payloads begin with these, their NUL included where it counts.
static const char kJfifName[] = "JFIF";    // APP0, the file's own header
static const char kJfxxName[] = "JFXX";    // APP0, JFIF's thumbnail
static const char kAdobeName[] = "Adobe";  // APP14, the colour transform
static const unsigned char kExifName[6] = {'E', 'x', 'i', 'f', 0, 0};
static const char kXmpName[] = "http://ns.adobe.com/xap/1.0/";
// APP1, a part of the XMP too large for one segment, which the main
// packet names by its digest (xmpNote:HasExtendedXMP).
static const char kXmpExtensionName[] = "http://ns.adobe.com/xmp/extension/";
static const char kProfileName[] = "ICC_PROFILE";  // APP2
// APP2, the index of the pictures a file holds behind the first's EOI.
static const char kMpfName[] = "MPF";
// APP11, JUMBF boxes (content credentials among them): the common
// identifier "JP", without a NUL.
static const char kJumbfName[] = "JP";
// APP13, Photoshop's resources (IPTC among them).
static const char kPhotoshopName[] = "Photoshop 3.0";

// The keyword of the iTXt chunk that holds a PNG's XMP, and its NUL.
static const char kPngXmpKeyword[] = "XML:com.adobe.xmp";

// Text chunks in which other tools write a second copy of a block (as
// "Raw profile type exif", "... APP1", "... xmp", "... iptc", in hex) or
// of each EXIF tag ("exif:Make", "exif:Orientation", ...), ahead of the
// keyword's NUL.
static const char kPngRawProfileKeyword[] = "Raw profile type ";
static const char kPngExifTagKeyword[] = "exif:";

// Whether the bytes begin with the name's name_size bytes.
inline int BeginsWith(const unsigned char *bytes, size_t size,
                      const void *name, size_t name_size) {
  return size >= name_size && memcmp(bytes, name, name_size) == 0;
}

// The file's own JFIF header, which decides how its pixels are decoded and
// gives its resolution (a JFIF extension, "JFXX", is not one).
inline int IsJfifSegment(int marker, const unsigned char *payload,
                         size_t size) {
  return marker == kJpegApp0 &&
         BeginsWith(payload, size, kJfifName, sizeof kJfifName);
}

// Whether a JPEG segment before the first scan is metadata: any APPn but
// the JFIF and Adobe segments, which decide how the pixels are decoded, and
// comments. Frames, tables and what the walk doesn't know are the picture's.
inline int IsJpegMetadata(int marker, const unsigned char *payload,
                          size_t size) {
  if (marker == kJpegComment) return 1;
  if (marker < kJpegApp0 || marker > kJpegApp15) return 0;
  return !IsJfifSegment(marker, payload, size) &&
         !(marker == kJpegApp14 &&
           BeginsWith(payload, size, kAdobeName, sizeof kAdobeName - 1));
}

#endif
