#include "image/load/picture_only.h"

#include <stdlib.h>
#include <string.h>

#include "image/containers/header_fields.h"
#include "image/containers/jpeg_markers.h"
#include "image/containers/png_chunks.h"
#include "image/metadata/names.h"

// The spans shown so far; a run that goes on where the last one ended
// lengthens it, so a file with nothing left out is one span.
struct SpanList {
  ShownSpan *spans;
  int count, room;
  int out_of_memory;
};

static void Show(SpanList *list, const unsigned char *from, size_t size) {
  if (size == 0 || list->out_of_memory) return;
  ShownSpan *last = list->count > 0 ? &list->spans[list->count - 1] : NULL;
  if (last != NULL && last->bytes + last->size == from) {
    last->size += size;
    return;
  }
  if (list->count == list->room) {
    int room = list->room > 0 ? 2 * list->room : 16;
    ShownSpan *grown =
        (ShownSpan *)realloc(list->spans, (size_t)room * sizeof(ShownSpan));
    if (grown == NULL) {
      list->out_of_memory = 1;
      return;
    }
    list->spans = grown;
    list->room = room;
  }
  list->spans[list->count++] = ShownSpan{from, size};
}

// libjpeg reads and keeps every marker it meets until the picture is
// whole, and a file of several scans is read to its end before the first
// row comes out; so the walk goes to EOI. Behind the first scan no APPn
// decides anything of the decoding.
static int JpegLeavesOut(const unsigned char *data, const JpegSegment *s,
                         int after_first_scan) {
  if (after_first_scan && s->marker >= kJpegApp0 && s->marker <= kJpegApp15)
    return 1;
  return IsJpegMetadata(s->marker, data + s->body, s->end - s->body);
}

// Returns where the walk stopped: from there on, the bytes stand as they
// are. With nothing left out behind the first scan, it stops there.
static size_t ShowJpegPicture(const unsigned char *data, size_t size,
                              int to_first_scan, SpanList *list) {
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, size)) return 0;
  size_t shown_to = 0, walked_to = 0;
  int after_first_scan = 0;
  while (!(after_first_scan && to_first_scan) &&
         NextJpegSegment(&walk, &s)) {
    if (JpegLeavesOut(data, &s, after_first_scan)) {
      Show(list, data + shown_to, s.start - shown_to);
      shown_to = s.end;
    }
    if (s.marker == kJpegScan) after_first_scan = 1;
    walked_to = s.end;
  }
  // An APPn or COM the bytes end inside is shown no more than a whole one:
  // the library would read its claimed length past what it was given.
  if (!(after_first_scan && to_first_scan) &&
      JpegAppOrComment(walk.cut_marker)) {
    Show(list, data + shown_to, walk.marker_at - shown_to);
    return size;
  }
  Show(list, data + shown_to, walked_to - shown_to);
  return walked_to;
}

static int PngDecodingNeeds(const PngChunk *chunk) {
  static const char kAncillaryKept[][5] = {"tRNS", "gAMA", "cHRM", "sRGB",
                                           "iCCP", "sBIT", "pHYs", "bKGD"};
  if (!(chunk->type[0] & 0x20)) return 1;  // critical: IHDR, PLTE, IDAT, IEND
  for (const char *kept : kAncillaryKept)
    if (memcmp(chunk->type, kept, 4) == 0) return 1;
  return 0;
}

// Nothing behind IEND is shown.
static size_t ShowPngPicture(const unsigned char *data, size_t size,
                             SpanList *list) {
  PngWalk walk;
  PngChunk chunk;
  if (!StartPngWalk(&walk, data, size)) return 0;
  Show(list, data, kPngSignatureSize);
  while (NextPngChunk(&walk, &chunk)) {
    if (PngDecodingNeeds(&chunk))
      Show(list, data + chunk.start, chunk.end - chunk.start);
    if (PngChunkType(&chunk) == kPngEnd) return size;
  }
  return walk.at;
}

int PictureOnly(const unsigned char *data, size_t size,
                const ImageHeaders *headers, ShownBytes *shown) {
  SpanList list = {NULL, 0, 0, 0};
  ImageFormat format = headers->format;
  int to_first_scan = headers->read && headers->jpeg.late_markers == 0;
  size_t walked_to =
      format == kFormatJpeg  ? ShowJpegPicture(data, size, to_first_scan, &list)
      : format == kFormatPng ? ShowPngPicture(data, size, &list)
                             : 0;
  Show(&list, data + walked_to, size - walked_to);
  if (list.out_of_memory) {
    free(list.spans);
    return 0;
  }
  *shown = ShownBytes{list.spans, list.count, -1, 0};
  return 1;
}
