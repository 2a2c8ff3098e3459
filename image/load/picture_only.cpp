#include "image/load/picture_only.h"

#include <stdlib.h>
#include <string.h>

#include "image/containers/header_fields.h"
#include "image/containers/jpeg_markers.h"
#include "image/metadata/names.h"
#include "image/containers/png_chunks.h"

static size_t Append(unsigned char *out, size_t used, const unsigned char *from,
                     size_t size) {
  memcpy(out + used, from, size);
  return used + size;
}

// Where the JPEG's first scan begins, or its size when the walk finds none.
static size_t FirstScanAt(const unsigned char *data, size_t size) {
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, size)) return size;
  while (NextJpegSegment(&walk, &s))
    if (s.marker == kJpegScan) return s.start;
  return size;
}

// The segments ahead of the first scan that decoding needs; out holds
// head_end bytes. Bytes past the walk's end are copied as they stand.
static size_t JpegHead(const unsigned char *data, size_t head_end,
                       unsigned char *out) {
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, head_end))
    return Append(out, 0, data, head_end);
  size_t used = Append(out, 0, data, 2), walked_to = 2;  // SOI
  while (NextJpegSegment(&walk, &s)) {
    if (!IsJpegMetadata(s.marker, data + s.body, s.end - s.body))
      used = Append(out, used, data + s.start, s.end - s.start);
    walked_to = s.end;
  }
  return Append(out, used, data + walked_to, head_end - walked_to);
}

static int PngDecodingNeeds(const PngChunk *chunk) {
  static const char kAncillaryKept[][5] = {"tRNS", "gAMA", "cHRM", "sRGB",
                                           "iCCP", "sBIT", "pHYs", "bKGD"};
  if (!(chunk->type[0] & 0x20)) return 1;  // critical: IHDR, PLTE, IDAT, IEND
  for (const char *kept : kAncillaryKept)
    if (memcmp(chunk->type, kept, 4) == 0) return 1;
  return 0;
}

static size_t PngPictureOnly(const unsigned char *data, size_t size,
                             unsigned char *out) {
  if (size < kPngSignatureSize) return Append(out, 0, data, size);
  size_t used = Append(out, 0, data, kPngSignatureSize);
  size_t at = kPngSignatureSize;
  PngChunk chunk;
  while (PngChunkAt(data, size, at, &chunk)) {
    size_t whole = kPngChunkOverhead + chunk.length;
    if (PngDecodingNeeds(&chunk)) used = Append(out, used, data + at, whole);
    at += whole;
    if (PngChunkType(&chunk) == kPngEnd) return used;
  }
  return Append(out, used, data + at, size - at);
}

int PictureOnly(const unsigned char *data, size_t size, ImageFormat format,
                ShownBytes *shown) {
  size_t head_end = format == kFormatJpeg ? FirstScanAt(data, size) : size;
  unsigned char *head = (unsigned char *)malloc(head_end > 0 ? head_end : 1);
  if (head == NULL) return 0;
  size_t head_size = format == kFormatJpeg ? JpegHead(data, head_end, head)
                     : format == kFormatPng ? PngPictureOnly(data, size, head)
                                            : Append(head, 0, data, size);
  *shown = ShownBytes{head, head_size, data + head_end, size - head_end, -1, 0};
  return 1;
}
