// What a photo carries besides its pixels, kept by the program as bytes: the
// image library is shown the picture alone and never parses any of it (its
// EXIF reader crashed on maker notes and decoded thumbnails of any claimed
// size). The few fields an edit makes untrue are mended by the program's own
// bounded readers, one rule says what -strip leaves out, and the segments
// are placed into whatever a writer, or the lossless transform, produced.
//
// Ownership: a PhotoMetadata owns its segments and their bytes, copied from
// the file; ReleasePhotoMetadata frees them. Everything given is borrowed.
#ifndef ORVANE_IMAGE_METADATA_RECORD_H
#define ORVANE_IMAGE_METADATA_RECORD_H

#include <stddef.h>
#include <stdint.h>

#include "image/imagefile.h"

enum MetadataKind {
  kMetadataExif,     // "Exif\0\0" and the TIFF structure, as JPEG's APP1
  kMetadataXmp,      // the XMP packet alone (a PNG's inflated)
  kMetadataXmpExtension,  // APP1 of extended XMP, as it stands
  kMetadataProfile,  // one APP2 chunk of a JPEG's ICC profile, as it stands
  kMetadataIptc,     // APP13: Photoshop's resources, IPTC among them
  kMetadataComment,  // a JPEG comment's text
  kMetadataOtherApp, // any other APPn but JFIF and Adobe's: its payload
  kMetadataPngText   // a PNG text chunk (tEXt, zTXt, iTXt): its data
};

struct MetadataSegment {
  MetadataKind kind;
  uint32_t tag;  // JPEG: the marker; a PNG text chunk: its type, big-endian
  unsigned char *bytes;
  size_t size;
};

struct PhotoMetadata {
  MetadataSegment *segments;
  int count;
};

// The metadata of a JPEG's segments before its first scan, or of a PNG's
// chunks, copied in the order they stand; a BMP carries none. Only a PNG's
// first compressed XMP is inflated, up to a small limit and within one
// budget for the whole file (past them, it is kept as the text chunk it is);
// a later XMP packet is left out. Past 4,096 segments, and where memory
// can't be found, segments are left out.
void ReadPhotoMetadata(const unsigned char *data, size_t size,
                       ImageFormat format, PhotoMetadata *metadata);

void ReleasePhotoMetadata(PhotoMetadata *metadata);

// The memory the record holds: its bytes and each segment's own cost.
uint64_t PhotoMetadataBytes(const PhotoMetadata *metadata);

// A copy of from in to, to be settled apart from it. 0 when memory runs out,
// with to empty.
int CopyPhotoMetadata(const PhotoMetadata *from, PhotoMetadata *to);

// The EXIF Orientation, 1 to 8; 0 when there is none that can be read.
int MetadataOrientation(const PhotoMetadata *metadata);

// A JPEG's ICC profile put together from its APP2 chunks, as a new heap
// block (free it); NULL when it has none or its chunks don't make one.
unsigned char *MetadataProfile(const PhotoMetadata *metadata, size_t *size);

// What the edits of a run made of the picture, for the fields that say so.
struct MetadataChanges {
  int geometry;           // the picture was cropped, turned, flipped or resized
  int64_t width, height;  // its size now
  int upright;            // it was turned upright: Orientation 1
  int strip;              // leave out what may be private
  uint32_t dpi_x, dpi_y;  // its resolution, for an orientation-only EXIF
  size_t most_exif;       // the largest EXIF block the output holds; 0: any
};

// The largest EXIF block a file of the format holds: a JPEG's, one APP1
// segment's payload; 0 where there is no bound.
size_t LargestExifBlock(ImageFormat format);

// Mends the record as the changes say. After a geometry change the EXIF
// gives the new size and keeps no thumbnail (a JFIF thumbnail goes too),
// and XMP gives the new size; upright sets both orientations to 1. A block
// that can't be mended safely is left out, not kept untrue; so is any EXIF
// or XMP block after the first, which would keep what the first loses. An
// EXIF block that can't go whole (it can't be mended safely, or is larger
// than most_exif) gives way to what can be read safely of its IFD0, or at
// the least the orientation.
// With strip, EXIF (but for the orientation), XMP, IPTC, every APPn but the
// profile's, and the PNG text that holds EXIF, XMP or IPTC are left out;
// comments and the profile stay.
void SettleMetadata(PhotoMetadata *metadata, const MetadataChanges *changes);

// A new heap copy (free it) of a JPEG or PNG a writer made, with the
// segments placed where readers look for them: a JPEG's after its SOI and
// JFIF segment, a PNG's before its first IDAT (EXIF as eXIf, XMP as iTXt).
// The profile's chunks are placed only with_profile: a writer writes the
// bitmap's own. Segments the output format has no place for are left out.
// NULL when the bytes can't be walked or memory runs out.
unsigned char *PlaceMetadata(const unsigned char *encoded, size_t size,
                             ImageFormat format, const PhotoMetadata *metadata,
                             int with_profile, size_t *new_size);

// The same placing done as a writer's output streams past, for a save that
// never holds the whole of it: the segments laid out as PlaceMetadata puts
// them, as a new heap block of *size bytes (free it; NULL when memory runs
// out), to go in at the place found in the head of the output.
unsigned char *MetadataPieces(const PhotoMetadata *metadata,
                              ImageFormat format, int with_profile,
                              size_t *size);

// Where in the head of a writer's output (size bytes so far; whole when the
// writer is done) the pieces go, as PlaceMetadata places them: 1 with *at;
// 0 while the head is too short to tell; -1 when it holds no such place.
int PlaceInHead(const unsigned char *head, size_t size, ImageFormat format,
                int whole, size_t *at);

#endif
