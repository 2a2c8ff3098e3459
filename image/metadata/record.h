// What a photo carries besides its pixels, kept by the program as bytes: the
// image library is shown the picture alone and never parses any of it (its
// EXIF reader crashed on maker notes and decoded thumbnails of any claimed
// size). One table of the forms metadata takes (settle.cpp) says how each
// is recognised and what a plain save, an edit and -strip do with it; the
// few fields an edit makes untrue are mended by the program's own bounded
// readers, and the segments are placed into whatever a writer, or the
// lossless transform, produced.
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
  int form;      // its row in the table of forms
  uint32_t tag;  // JPEG: the marker; a PNG text chunk: its type, big-endian
  unsigned char *bytes;
  size_t size;
};

struct PhotoMetadata {
  MetadataSegment *segments;
  int count;
};

// The row of the table of forms that a JPEG segment before the first scan
// (marker and payload) is of; -1 when it is none, but the picture's.
int JpegMetadataForm(int marker, const unsigned char *payload, size_t size);

// The row a PNG chunk (type and data) is of, searched from the row first
// on (0: all); -1 when it is no metadata.
int PngMetadataForm(uint32_t type, const unsigned char *data, size_t size,
                    int first);

// How the record of a photo of the format holds a segment of the row.
MetadataKind MetadataFormKind(int form, ImageFormat format);

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
  int components;  // the picture's colour components (1 grey, 3, 4 CMYK),
                   // which the profile must be for; 0: not checked
};

// What the edits of a run did, as the re-encode and the lossless path each
// tell it; MetadataChangesFor makes the changes of it by one rule for both.
struct EditsDone {
  int moved;              // a crop, turn, flip or resize moved or made pixels
  int64_t width, height;  // the picture's size now
  int upright;            // -upright was given
  int strip;              // -strip was given
  uint32_t dpi_x, dpi_y;  // the picture's resolution, as the output says it
  ImageFormat output;     // the output's format
  int components;         // the colour components the output's pixels
                          // have, for a profile kept as it stands; 0: any
};

// The changes the edits make to the photo's metadata (read at load, not yet
// settled). -upright has turned the picture, and sets the orientation to 1,
// only where the photo's orientation is above 1: on one that has none, or
// 1, it changes nothing, whichever path turned it. Filled member by member,
// so that a field added to MetadataChanges is set here, once, for both.
MetadataChanges MetadataChangesFor(const PhotoMetadata *metadata,
                                   const EditsDone *done);

// The largest EXIF block a file of the format holds: a JPEG's, one APP1
// segment's payload; 0 where there is no bound.
size_t LargestExifBlock(ImageFormat format);

// Whether a profile's bytes make one: its header's size is its size, and it
// bears the profile signature.
int ProfileLooksWhole(const unsigned char *profile, size_t size);

// Whether a whole profile is for pixels of the number of colour components
// (1 grey, 3 RGB, 4 CMYK); 0 components: any.
int ProfileSuits(const unsigned char *profile, size_t size, int components);

// Keeps, mends or leaves out each segment as its row in the table of forms
// says for a plain save, an edit (geometry or upright) or strip. After a
// geometry change the EXIF gives the new size and keeps no thumbnail, and
// XMP gives the new size; upright sets both orientations to 1. A block
// that can't be mended safely is left out, not kept untrue; so is any EXIF
// or XMP block after the first, which would keep what the first loses. An
// EXIF block that can't go whole (it can't be mended safely, or is larger
// than most_exif) gives way to what can be read safely of its IFD0, or at
// the least the orientation. A profile whose chunks don't make one, or
// that isn't for the picture's components, is left out whole.
void SettleMetadata(PhotoMetadata *metadata, const MetadataChanges *changes);

// A new heap copy (free it) of a JPEG or PNG a writer made, with the
// segments placed where readers look for them: a JPEG's after its SOI and
// JFIF segment, a PNG's before its first IDAT (EXIF as eXIf, XMP as iTXt).
// The profile's chunks are placed only with_profile: a writer writes the
// bitmap's own. Segments the output format has no place for are left out;
// of a PNG's text, a JPEG gets only the first plain Comment, as one COM.
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
