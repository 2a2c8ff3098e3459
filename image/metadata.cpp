#include "image/metadata.h"

#include <stdlib.h>
#include <string.h>

#include "image/exif_block.h"
#include "image/header_fields.h"
#include "image/jpeg_frame.h"
#include "image/metadata_names.h"
#include "image/png_chunks.h"
#include "image/xmp_packet.h"

// Takes a copy of prefix and body, in that order, as one segment's bytes.
static void Add(PhotoMetadata *metadata, MetadataKind kind, uint32_t tag,
                const unsigned char *prefix, size_t prefix_size,
                const unsigned char *body, size_t body_size) {
  size_t size = prefix_size + body_size;
  unsigned char *bytes = (unsigned char *)malloc(size > 0 ? size : 1);
  MetadataSegment *grown = (MetadataSegment *)realloc(
      metadata->segments, (metadata->count + 1) * sizeof(MetadataSegment));
  if (bytes == NULL || grown == NULL) {
    free(bytes);
    if (grown != NULL) metadata->segments = grown;
    return;
  }
  metadata->segments = grown;
  if (prefix_size > 0) memcpy(bytes, prefix, prefix_size);
  if (body_size > 0) memcpy(bytes + prefix_size, body, body_size);
  grown[metadata->count++] = MetadataSegment{kind, tag, bytes, size};
}

static int PayloadNamed(const unsigned char *payload, size_t size,
                        const void *name, size_t name_size) {
  return size >= name_size && memcmp(payload, name, name_size) == 0;
}

// The JFIF and Adobe segments decide how the pixels are decoded; they go to
// the library, as do the frames, tables and scans.
static void AddJpegSegment(PhotoMetadata *metadata, int marker,
                           const unsigned char *payload, size_t size) {
  if (marker == kJpegComment) {
    Add(metadata, kMetadataComment, marker, NULL, 0, payload, size);
    return;
  }
  if (marker < kJpegApp0 || marker > kJpegApp15) return;
  if ((marker == kJpegApp0 && PayloadNamed(payload, size, kJfifName, 5)) ||
      (marker == kJpegApp14 && PayloadNamed(payload, size, kAdobeName, 5)))
    return;
  MetadataKind kind = kMetadataOtherApp;
  size_t skip = 0;
  if (marker == kJpegApp1 && PayloadNamed(payload, size, kExifName, 6)) {
    kind = kMetadataExif;
  } else if (marker == kJpegApp1 &&
             PayloadNamed(payload, size, kXmpName, sizeof kXmpName)) {
    kind = kMetadataXmp;
    skip = sizeof kXmpName;
  } else if (marker == kJpegApp2 &&
             PayloadNamed(payload, size, kProfileName, sizeof kProfileName)) {
    kind = kMetadataProfile;
  } else if (marker == kJpegApp13) {
    kind = kMetadataIptc;
  }
  Add(metadata, kind, marker, NULL, 0, payload + skip, size - skip);
}

static void ReadJpegMetadata(const unsigned char *data, size_t size,
                             PhotoMetadata *metadata) {
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, size)) return;
  while (NextJpegSegment(&walk, &s) && s.marker != kJpegScan)
    AddJpegSegment(metadata, s.marker, data + s.body, s.end - s.body);
}

// An iTXt chunk's text, behind its keyword, compression flag and method,
// language and translated keyword; NULL when it is compressed or cut short.
static const unsigned char *ItxtText(const PngChunk *chunk, size_t *size) {
  const unsigned char *end = chunk->data + chunk->length;
  const unsigned char *at =
      (const unsigned char *)memchr(chunk->data, 0, chunk->length);
  if (at == NULL || end - at < 3 || at[1] != 0) return NULL;
  at += 3;
  for (int field = 0; field < 2; field++) {
    at = (const unsigned char *)memchr(at, 0, end - at);
    if (at == NULL) return NULL;
    at++;
  }
  *size = end - at;
  return at;
}

static void AddPngChunk(PhotoMetadata *metadata, const PngChunk *chunk) {
  uint32_t type = PngChunkType(chunk);
  size_t text_size = 0;
  const unsigned char *text = NULL;
  if (type == kPngExif) {
    Add(metadata, kMetadataExif, type, kExifName, 6, chunk->data,
        chunk->length);
  } else if (type == kPngInternationalText &&
             PayloadNamed(chunk->data, chunk->length, kPngXmpKeyword,
                          sizeof kPngXmpKeyword) &&
             (text = ItxtText(chunk, &text_size)) != NULL) {
    Add(metadata, kMetadataXmp, type, NULL, 0, text, text_size);
  } else if (type == kPngText || type == kPngCompressedText ||
             type == kPngInternationalText) {
    // A text without a keyword is no valid chunk, and writers refuse it.
    if (chunk->length > 0 && chunk->data[0] != 0)
      Add(metadata, kMetadataPngText, type, NULL, 0, chunk->data,
          chunk->length);
  }
}

static void ReadPngMetadata(const unsigned char *data, size_t size,
                            PhotoMetadata *metadata) {
  PngChunk chunk;
  for (size_t at = kPngSignatureSize; PngChunkAt(data, size, at, &chunk);
       at += kPngChunkOverhead + chunk.length) {
    if (PngChunkType(&chunk) == kPngEnd) return;
    if (chunk.crc_holds) AddPngChunk(metadata, &chunk);
  }
}

void ReadPhotoMetadata(const unsigned char *data, size_t size,
                       ImageFormat format, PhotoMetadata *metadata) {
  *metadata = PhotoMetadata{NULL, 0};
  if (format == kFormatJpeg) ReadJpegMetadata(data, size, metadata);
  if (format == kFormatPng) ReadPngMetadata(data, size, metadata);
}

void ReleasePhotoMetadata(PhotoMetadata *metadata) {
  for (int i = 0; i < metadata->count; i++) free(metadata->segments[i].bytes);
  free(metadata->segments);
  *metadata = PhotoMetadata{NULL, 0};
}

int CopyPhotoMetadata(const PhotoMetadata *from, PhotoMetadata *to) {
  *to = PhotoMetadata{NULL, 0};
  for (int i = 0; i < from->count; i++) {
    const MetadataSegment *s = &from->segments[i];
    Add(to, s->kind, s->tag, NULL, 0, s->bytes, s->size);
  }
  if (to->count == from->count) return 1;
  ReleasePhotoMetadata(to);
  return 0;
}

static const MetadataSegment *FirstOf(const PhotoMetadata *metadata,
                                      MetadataKind kind) {
  for (int i = 0; i < metadata->count; i++)
    if (metadata->segments[i].kind == kind) return &metadata->segments[i];
  return NULL;
}

int MetadataOrientation(const PhotoMetadata *metadata) {
  const MetadataSegment *exif = FirstOf(metadata, kMetadataExif);
  return exif != NULL ? ExifOrientation(exif->bytes, exif->size) : 0;
}

// Each chunk: the name, its sequence number (from 1) and the count of
// chunks, then its part of the profile.
unsigned char *MetadataProfile(const PhotoMetadata *metadata, size_t *size) {
  enum { kHead = sizeof kProfileName + 2, kMostChunks = 255 };
  const MetadataSegment *parts[kMostChunks + 1] = {};
  int count = 0;
  size_t total = 0;
  for (int i = 0; i < metadata->count; i++) {
    const MetadataSegment *s = &metadata->segments[i];
    if (s->kind != kMetadataProfile || s->size <= kHead) continue;
    int number = s->bytes[kHead - 2], chunks = s->bytes[kHead - 1];
    if (count == 0) count = chunks;
    if (chunks != count || number < 1 || number > count || parts[number])
      return NULL;
    parts[number] = s;
    total += s->size - kHead;
  }
  for (int n = 1; n <= count; n++)
    if (parts[n] == NULL) return NULL;
  unsigned char *profile = count > 0 ? (unsigned char *)malloc(total) : NULL;
  if (profile == NULL) return NULL;
  size_t used = 0;
  for (int n = 1; n <= count; n++) {
    memcpy(profile + used, parts[n]->bytes + kHead, parts[n]->size - kHead);
    used += parts[n]->size - kHead;
  }
  *size = total;
  return profile;
}

// PNG text that holds EXIF, XMP or IPTC under another name, as some tools
// write it: as private as the blocks themselves.
static int HoldsPrivateBlock(const MetadataSegment *segment) {
  static const char kRawProfile[] = "Raw profile type ";
  return PayloadNamed(segment->bytes, segment->size, kRawProfile,
                      sizeof kRawProfile - 1) ||
         PayloadNamed(segment->bytes, segment->size, kPngXmpKeyword,
                      sizeof kPngXmpKeyword);
}

// A JFIF extension holds a thumbnail of its own.
static int IsJfifThumbnail(const MetadataSegment *segment) {
  return segment->tag == kJpegApp0 &&
         PayloadNamed(segment->bytes, segment->size, kJfxxName, 5);
}

// The segment's bytes replaced by mended ones; 0 (to leave it out) for NULL.
static int Replaced(MetadataSegment *segment, unsigned char *mended,
                    size_t size) {
  if (mended == NULL) return 0;
  free(segment->bytes);
  segment->bytes = mended;
  segment->size = size;
  return 1;
}

static int SettleExif(MetadataSegment *s, const MetadataChanges *changes,
                      int orientation) {
  size_t size = 0;
  unsigned char *mended = NULL;
  if (changes->strip) {
    mended = OrientationOnlyExifBlock(orientation, changes->dpi_x,
                                      changes->dpi_y, &size);
    return Replaced(s, mended, size);
  }
  if (!changes->geometry && !changes->upright) return 1;
  ExifChanges exif = {};
  if (changes->geometry) {
    exif.width = changes->width;
    exif.height = changes->height;
    exif.drop_thumbnail = 1;
  }
  exif.upright = changes->upright;
  mended = EditExifBlock(s->bytes, s->size, &exif, &size);
  return Replaced(s, mended, size);
}

static int SettleXmp(MetadataSegment *s, const MetadataChanges *changes) {
  if (changes->strip) return 0;
  if (!changes->geometry && !changes->upright) return 1;
  XmpChanges xmp = {};
  if (changes->geometry) {
    xmp.width = changes->width;
    xmp.height = changes->height;
  }
  xmp.upright = changes->upright;
  size_t size = 0;
  unsigned char *mended = MendXmpPacket(s->bytes, s->size, &xmp, &size);
  return Replaced(s, mended, size);
}

// Whether the segment stays, mended as the changes say.
struct SettleState {
  const MetadataChanges *changes;
  int orientation;  // the one the picture has now
  int exif_seen, xmp_seen;
};

static int Settled(MetadataSegment *s, SettleState *state) {
  const MetadataChanges *changes = state->changes;
  switch (s->kind) {
    case kMetadataExif:
      if (state->exif_seen++) return 0;
      return SettleExif(s, changes, state->orientation);
    case kMetadataXmp:
      if (state->xmp_seen++) return 0;
      return SettleXmp(s, changes);
    case kMetadataIptc:
      return !changes->strip;
    case kMetadataOtherApp:
      return !changes->strip && !(changes->geometry && IsJfifThumbnail(s));
    case kMetadataPngText:
      return !changes->strip || !HoldsPrivateBlock(s);
    default:  // the profile and comments
      return 1;
  }
}

void SettleMetadata(PhotoMetadata *metadata, const MetadataChanges *changes) {
  SettleState state = {changes,
                       changes->upright ? 1 : MetadataOrientation(metadata), 0,
                       0};
  int kept = 0;
  for (int i = 0; i < metadata->count; i++) {
    MetadataSegment *s = &metadata->segments[i];
    if (Settled(s, &state))
      metadata->segments[kept++] = *s;
    else
      free(s->bytes);
  }
  metadata->count = kept;
}
