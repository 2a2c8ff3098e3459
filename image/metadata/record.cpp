#include "image/metadata/record.h"

#include <stdlib.h>
#include <string.h>

#include "image/metadata/exif_block.h"
#include "image/containers/header_fields.h"
#include "image/containers/jpeg_markers.h"
#include "image/metadata/names.h"
#include "image/containers/png_chunks.h"
#include "lib/byteorder.h"

// A photo holds a few tens of segments; a file of millions of empty ones
// is made to cost memory. Past this many the rest are left out, so the
// record never costs much more than the bytes it copies.
static const int kMostSegments = 4096;

// What may still be inflated of a file's compressed metadata, all its
// chunks together; each try is charged the room it was given, whether it
// fit or not, so that no file makes the inflater work more than this.
// Room for the largest packet kept (kLargestInflatedXmp) and a few tries
// past it.
static const uint32_t kInflateBudget = 4 << 20;

// The segments' room doubles whenever the count reaches it (8, 16, 32...),
// so a long run of segments costs linear time.
static int RoomForOneMore(PhotoMetadata *metadata) {
  int count = metadata->count;
  if (count >= kMostSegments) return 0;
  int full = count == 0 || (count >= 8 && (count & (count - 1)) == 0);
  if (!full) return 1;
  int room = count == 0 ? 8 : 2 * count;
  MetadataSegment *grown = (MetadataSegment *)realloc(
      metadata->segments, (size_t)room * sizeof(MetadataSegment));
  if (grown == NULL) return 0;
  metadata->segments = grown;
  return 1;
}

// Takes a copy of prefix and body, in that order, as one segment's bytes.
static void Add(PhotoMetadata *metadata, MetadataKind kind, int form,
                uint32_t tag, const unsigned char *prefix, size_t prefix_size,
                const unsigned char *body, size_t body_size) {
  if (!RoomForOneMore(metadata)) return;
  size_t size = prefix_size + body_size;
  unsigned char *bytes = (unsigned char *)malloc(size > 0 ? size : 1);
  if (bytes == NULL) return;
  if (prefix_size > 0) memcpy(bytes, prefix, prefix_size);
  if (body_size > 0) memcpy(bytes + prefix_size, body, body_size);
  metadata->segments[metadata->count++] =
      MetadataSegment{kind, form, tag, bytes, size};
}

// A segment goes into the record as its row of the table of forms says;
// the XMP without the name that opens it.
static void AddJpegSegment(PhotoMetadata *metadata, int marker,
                           const unsigned char *payload, size_t size) {
  if (!IsJpegMetadata(marker, payload, size)) return;
  int form = JpegMetadataForm(marker, payload, size);
  if (form < 0) return;
  MetadataKind kind = MetadataFormKind(form, kFormatJpeg);
  size_t skip = kind == kMetadataXmp ? sizeof kXmpName : 0;
  Add(metadata, kind, form, marker, NULL, 0, payload + skip, size - skip);
}

static void ReadJpegMetadata(const unsigned char *data, size_t size,
                             PhotoMetadata *metadata) {
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, size)) return;
  while (NextJpegSegment(&walk, &s) && s.marker != kJpegScan &&
         metadata->count < kMostSegments)
    AddJpegSegment(metadata, s.marker, data + s.body, s.end - s.body);
}

// Larger packets than this, compressed, are kept as the chunks they are:
// an XMP packet is rarely more than a few tens of kilobytes.
static const uint32_t kLargestInflatedXmp = 1 << 20;

// An iTXt chunk's text, behind its keyword, compression flag and method,
// language and translated keyword; *compressed tells whether it is
// deflated. NULL when it is cut short.
static const unsigned char *ItxtText(const PngChunk *chunk, size_t *size,
                                     int *compressed) {
  const unsigned char *end = chunk->data + chunk->length;
  const unsigned char *at =
      (const unsigned char *)memchr(chunk->data, 0, chunk->length);
  if (at == NULL || end - at < 3 || at[1] > 1 || at[2] != 0) return NULL;
  *compressed = at[1];
  at += 3;
  for (int field = 0; field < 2; field++) {
    at = (const unsigned char *)memchr(at, 0, end - at);
    if (at == NULL) return NULL;
    at++;
  }
  *size = end - at;
  return at;
}

// What reading a PNG's chunks has spent so far.
struct PngReading {
  uint32_t inflate_left;  // of kInflateBudget
  int xmp_read;           // an XMP packet is in the record
};

// The XMP packet of an iTXt chunk, inflated when it is compressed and the
// file's budget allows. 0 when it can't be read, or can't be inflated.
static int AddPngXmp(PhotoMetadata *metadata, int form, const PngChunk *chunk,
                     PngReading *reading) {
  size_t size = 0;
  int compressed = 0;
  const unsigned char *text = ItxtText(chunk, &size, &compressed);
  if (text == NULL) return 0;
  if (!compressed) {
    Add(metadata, kMetadataXmp, form, kPngInternationalText, NULL, 0, text, size);
    return 1;
  }
  uint32_t most = kLargestInflatedXmp < reading->inflate_left
                      ? kLargestInflatedXmp
                      : reading->inflate_left;
  if (most == 0) return 0;
  reading->inflate_left -= InflateRoom(size, most);
  uint32_t inflated = 0;
  unsigned char *packet = InflatePngData(text, size, most, &inflated);
  if (packet == NULL) return 0;
  Add(metadata, kMetadataXmp, form, kPngInternationalText, NULL, 0, packet, inflated);
  free(packet);
  return 1;
}

// A chunk goes into the record as its row of the table of forms says: EXIF
// behind the name a JPEG gives it, XMP inflated; XMP that can't be read
// goes as the row after says, as the text it is. Only the first XMP packet
// is kept at a save, so one met after it is left out here, never inflated.
static void AddPngChunk(PhotoMetadata *metadata, const PngChunk *chunk,
                        PngReading *reading) {
  uint32_t type = PngChunkType(chunk);
  int form = PngMetadataForm(type, chunk->data, chunk->length, 0);
  if (form < 0) return;
  MetadataKind kind = MetadataFormKind(form, kFormatPng);
  if (kind == kMetadataExif) {
    Add(metadata, kind, form, type, kExifName, 6, chunk->data, chunk->length);
    return;
  }
  if (kind == kMetadataXmp) {
    if (reading->xmp_read) return;
    int before = metadata->count;
    if (AddPngXmp(metadata, form, chunk, reading)) {
      reading->xmp_read = metadata->count > before;
      return;
    }
    form = PngMetadataForm(type, chunk->data, chunk->length, form + 1);
    if (form < 0) return;
  }
  Add(metadata, MetadataFormKind(form, kFormatPng), form, type, NULL, 0,
      chunk->data, chunk->length);
}

static void ReadPngMetadata(const unsigned char *data, size_t size,
                            PhotoMetadata *metadata) {
  PngWalk walk;
  PngChunk chunk;
  PngReading reading = {kInflateBudget, 0};
  if (!StartPngWalk(&walk, data, size)) return;
  while (NextPngChunk(&walk, &chunk) && PngChunkType(&chunk) != kPngEnd &&
         metadata->count < kMostSegments)
    if (PngCrcHolds(&chunk)) AddPngChunk(metadata, &chunk, &reading);
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

uint64_t PhotoMetadataBytes(const PhotoMetadata *metadata) {
  // A segment's entry, and the allocator's own head and rounding.
  const uint64_t kEachSegment = sizeof(MetadataSegment) + 32;
  uint64_t bytes = 0;
  for (int i = 0; i < metadata->count; i++)
    bytes += metadata->segments[i].size + kEachSegment;
  return bytes;
}

int CopyPhotoMetadata(const PhotoMetadata *from, PhotoMetadata *to) {
  *to = PhotoMetadata{NULL, 0};
  for (int i = 0; i < from->count; i++) {
    const MetadataSegment *s = &from->segments[i];
    Add(to, s->kind, s->form, s->tag, NULL, 0, s->bytes, s->size);
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

// An ICC profile's header is 128 bytes, followed by the count of tags.
enum {
  kProfileColourSpace = 16,
  kProfileSignature = 36,
  kProfileSmallest = 132
};

int ProfileLooksWhole(const unsigned char *profile, size_t size) {
  return size >= kProfileSmallest && Big32(profile) == size &&
         memcmp(profile + kProfileSignature, "acsp", 4) == 0;
}

int ProfileSuits(const unsigned char *profile, size_t size, int components) {
  const char *space = components == 1   ? "GRAY"
                      : components == 4 ? "CMYK"
                                        : "RGB ";
  return size >= kProfileSmallest &&
         (components == 0 ||
          memcmp(profile + kProfileColourSpace, space, 4) == 0);
}
