// The names that open the metadata segments a JPEG or PNG may carry, as the
// formats' owners fixed them, shared by the reader of the segments, the view
// shown to the library and the placing into a writer's output.
//
// Ownership: constants only.
#ifndef ORVANE_IMAGE_METADATA_NAMES_H
#define ORVANE_IMAGE_METADATA_NAMES_H

// JPEG APPn payloads begin with these, their NUL included where it counts.
static const char kJfifName[] = "JFIF";    // APP0, the file's own header
static const char kJfxxName[] = "JFXX";    // APP0, JFIF's thumbnail
static const char kAdobeName[] = "Adobe";  // APP14, the colour transform
static const unsigned char kExifName[6] = {'E', 'x', 'i', 'f', 0, 0};
static const char kXmpName[] = "http://ns.adobe.com/xap/1.0/";
static const char kProfileName[] = "ICC_PROFILE";  // APP2

// The keyword of the iTXt chunk that holds a PNG's XMP, and its NUL.
static const char kPngXmpKeyword[] = "XML:com.adobe.xmp";

#endif
