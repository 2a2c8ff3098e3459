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

static size_t JpegPictureOnly(const unsigned char *data, size_t size,
                              unsigned char *out) {
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, size)) return Append(out, 0, data, size);
  size_t used = Append(out, 0, data, 2), walked_to = 2;  // SOI
  while (NextJpegSegment(&walk, &s)) {
    if (s.marker == kJpegScan) return Append(out, used, data + s.start,
                                             size - s.start);
    if (!IsJpegMetadata(s.marker, data + s.body, s.end - s.body))
      used = Append(out, used, data + s.start, s.end - s.start);
    walked_to = s.end;
  }
  return Append(out, used, data + walked_to, size - walked_to);
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

unsigned char *PictureOnly(const unsigned char *data, size_t size,
                           ImageFormat format, size_t *new_size) {
  unsigned char *out = (unsigned char *)malloc(size > 0 ? size : 1);
  if (out == NULL) return NULL;
  *new_size = format == kFormatJpeg ? JpegPictureOnly(data, size, out)
              : format == kFormatPng ? PngPictureOnly(data, size, out)
                                     : Append(out, 0, data, size);
  return out;
}
