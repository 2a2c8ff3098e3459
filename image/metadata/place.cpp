// Placing the record's segments into a writer's output: each segment in the
// form the output format gives it, where its readers look.
#include <FreeImage.h>
#include <stdlib.h>
#include <string.h>

#include "image/containers/header_fields.h"
#include "image/containers/jpeg_markers.h"
#include "image/metadata/record.h"
#include "image/metadata/names.h"
#include "image/containers/png_chunks.h"
#include "lib/byteorder.h"

enum { kLargestJpegPayload = 65533 };

size_t LargestExifBlock(ImageFormat format) {
  return format == kFormatJpeg ? kLargestJpegPayload : 0;
}

// One segment as the output holds it: a marker or chunk type, then a
// prefix of the format's making and the segment's own bytes.
struct Piece {
  uint32_t tag;  // 0: no place in this format
  const unsigned char *prefix;
  size_t prefix_size;
  const unsigned char *body;
  size_t body_size;
};

// The keyword and its NUL, no compression (flag and method), and an empty
// language and translated keyword, each ended by a NUL: the literal's own.
static const unsigned char kPngXmpHead[] = "XML:com.adobe.xmp\0\0\0\0";
static const unsigned char kCommentKeyword[] = "Comment";  // and its NUL

// A PNG's first uncompressed comment becomes a JPEG comment, as a JPEG's
// comment becomes a PNG's; its other texts have no place in a JPEG, and
// never come out as one segment each.
static Piece JpegPiece(const MetadataSegment *s, int with_profile,
                       int *text_placed) {
  Piece none = {0, NULL, 0, NULL, 0};
  Piece piece = {s->tag, NULL, 0, s->bytes, s->size};
  switch (s->kind) {
    case kMetadataExif:
      piece.tag = kJpegApp1;
      break;
    case kMetadataXmp:
      piece = Piece{kJpegApp1, (const unsigned char *)kXmpName,
                    sizeof kXmpName, s->bytes, s->size};
      break;
    case kMetadataProfile:
      if (!with_profile) return none;
      break;
    case kMetadataComment:
      piece.tag = kJpegComment;
      break;
    case kMetadataPngText:
      if (*text_placed || s->tag != kPngText ||
          !BeginsWith(s->bytes, s->size, kCommentKeyword,
                      sizeof kCommentKeyword))
        return none;
      piece = Piece{kJpegComment, NULL, 0, s->bytes + sizeof kCommentKeyword,
                    s->size - sizeof kCommentKeyword};
      *text_placed = piece.body_size <= kLargestJpegPayload;
      break;
    default:  // IPTC and the other APPn stand as they stood
      break;
  }
  if (piece.prefix_size + piece.body_size > kLargestJpegPayload) return none;
  return piece;
}

static Piece PngPiece(const MetadataSegment *s) {
  Piece none = {0, NULL, 0, NULL, 0};
  switch (s->kind) {
    case kMetadataExif:  // eXIf holds the TIFF structure alone
      return Piece{kPngExif, NULL, 0, s->bytes + sizeof kExifName,
                   s->size - sizeof kExifName};
    case kMetadataXmp:
      return Piece{kPngInternationalText, kPngXmpHead, sizeof kPngXmpHead,
                   s->bytes, s->size};
    case kMetadataComment:  // tEXt may hold no NUL
      if (memchr(s->bytes, 0, s->size) != NULL) return none;
      return Piece{kPngText, kCommentKeyword, sizeof kCommentKeyword, s->bytes,
                   s->size};
    case kMetadataPngText:
      return Piece{s->tag, NULL, 0, s->bytes, s->size};
    default:  // the profile is the writer's; IPTC and APPn have no place
      return none;
  }
}

static Piece PieceFor(const MetadataSegment *s, ImageFormat format,
                      int with_profile, int *text_placed) {
  if (format == kFormatJpeg) return JpegPiece(s, with_profile, text_placed);
  if (format == kFormatPng) return PngPiece(s);
  return Piece{0, NULL, 0, NULL, 0};
}

// Writes the piece at out (NULL: only measures); returns its size. JPEG:
// marker and length; PNG: length, type, data and CRC.
static size_t PutPiece(const Piece *piece, ImageFormat format,
                       unsigned char *out) {
  size_t data_size = piece->prefix_size + piece->body_size;
  size_t head = format == kFormatJpeg ? 4 : 8;
  size_t total = head + data_size + (format == kFormatPng ? 4 : 0);
  if (out == NULL) return total;
  if (format == kFormatJpeg) {
    out[0] = 0xFF;
    out[1] = (unsigned char)piece->tag;
    PutBig16(out + 2, (uint32_t)data_size + 2);
  } else {
    PutBig32(out, (uint32_t)data_size);
    PutBig32(out + 4, piece->tag);
  }
  if (piece->prefix_size > 0)
    memcpy(out + head, piece->prefix, piece->prefix_size);
  if (piece->body_size > 0)
    memcpy(out + head + piece->prefix_size, piece->body, piece->body_size);
  if (format == kFormatPng)
    PutBig32(out + head + data_size,
             FreeImage_ZLibCRC32(0, out + 4, (DWORD)(4 + data_size)));
  return total;
}

// Where the segments go: a JPEG's behind SOI and a JFIF segment right after
// it, a PNG's before the first IDAT. 0 when there is no such place.
static size_t PlaceIn(const unsigned char *data, size_t size,
                      ImageFormat format) {
  if (format == kFormatJpeg) {
    JpegWalk walk;
    JpegSegment s;
    if (!StartJpegWalk(&walk, data, size)) return 0;
    if (NextJpegSegment(&walk, &s) &&
        IsJfifSegment(s.marker, data + s.body, s.end - s.body))
      return s.end;
    return 2;
  }
  PngWalk walk;
  PngChunk chunk;
  if (!StartPngWalk(&walk, data, size)) return 0;
  while (NextPngChunk(&walk, &chunk))
    if (PngChunkType(&chunk) == kPngData) return chunk.start;
  return 0;
}

// Writes every piece that has a place at out (NULL: only measures).
static size_t PutPieces(const PhotoMetadata *metadata, ImageFormat format,
                        int with_profile, unsigned char *out) {
  size_t used = 0;
  int text_placed = 0;
  for (int i = 0; i < metadata->count; i++) {
    Piece piece =
        PieceFor(&metadata->segments[i], format, with_profile, &text_placed);
    if (piece.tag != 0)
      used += PutPiece(&piece, format, out != NULL ? out + used : NULL);
  }
  return used;
}

// Whether the head of a writer's output holds enough to find the place: a
// JPEG's SOI and its first segment whole, a PNG's chunks up to the first
// IDAT.
static int HeadDecides(const unsigned char *head, size_t size,
                       ImageFormat format) {
  if (format == kFormatJpeg) {
    if (size < 6) return 0;
    if (head[2] != 0xFF || head[3] < kJpegApp0) return 1;
    return size >= 4 + (size_t)Big16(head + 4);
  }
  PngWalk walk;
  PngChunk chunk;
  if (!StartPngWalk(&walk, head, size)) return size >= kPngSignatureSize;
  while (NextPngChunk(&walk, &chunk))
    if (PngChunkType(&chunk) == kPngData) return 1;
  return 0;
}

int PlaceInHead(const unsigned char *head, size_t size, ImageFormat format,
                int whole, size_t *at) {
  if (!whole && !HeadDecides(head, size, format)) return 0;
  *at = PlaceIn(head, size, format);
  return *at != 0 ? 1 : -1;
}

unsigned char *MetadataPieces(const PhotoMetadata *metadata,
                              ImageFormat format, int with_profile,
                              size_t *size) {
  *size = PutPieces(metadata, format, with_profile, NULL);
  unsigned char *pieces = (unsigned char *)malloc(*size > 0 ? *size : 1);
  if (pieces != NULL) PutPieces(metadata, format, with_profile, pieces);
  return pieces;
}

unsigned char *PlaceMetadata(const unsigned char *encoded, size_t size,
                             ImageFormat format, const PhotoMetadata *metadata,
                             int with_profile, size_t *new_size) {
  size_t at = PlaceIn(encoded, size, format);
  if (at == 0) return NULL;
  size_t placed = PutPieces(metadata, format, with_profile, NULL);
  unsigned char *out = (unsigned char *)malloc(size + placed);
  if (out == NULL) return NULL;
  memcpy(out, encoded, at);
  PutPieces(metadata, format, with_profile, out + at);
  memcpy(out + at + placed, encoded + at, size - at);
  *new_size = size + placed;
  return out;
}
