#include "image/containers/jpeg_markers.h"

#include <string.h>

#include "image/containers/header_fields.h"
#include "lib/byteorder.h"
#include "platform/platform.h"

enum { kLargestComponentCount = 255 };

// Reads past the end give -1.
static int NextByte(JpegWalk *r) {
  return r->at < r->size ? r->data[r->at++] : -1;
}

// Coded data is searched for its next 0xFF in runs that end at multiples
// of this, where a mapped file's pages walked past are handed back.
static const size_t kWalkStep = 1 << 20;

// To the next 0xFF, or the end.
static void SkipToMarkerByte(JpegWalk *r) {
  while (r->at < r->size) {
    size_t step_end = (r->at / kWalkStep + 1) * kWalkStep;
    size_t run = (step_end < r->size ? step_end : r->size) - r->at;
    const void *found = memchr(r->data + r->at, 0xFF, run);
    if (found != NULL) {
      r->at = (size_t)((const unsigned char *)found - r->data);
      return;
    }
    r->at += run;
    PlatformLetGoBefore(r->data + r->at);
  }
}

// The next marker's code, skipping what the decoder skips with a warning
// (stray bytes, fill bytes, stuffed zeros); -1 at the end.
static int NextMarker(JpegWalk *r) {
  int c;
  do {
    SkipToMarkerByte(r);
    c = NextByte(r);
    while (c == 0xFF) c = NextByte(r);
  } while (c == 0);
  return c;
}

// Segments the decoder reads a length for: frames and tables (0xC0 to
// 0xCF), SOS, DQT, DNL, DRI, APPn and COM.
static int HasLength(int marker) {
  return (marker >= 0xC0 && marker <= 0xCF) ||
         (marker >= kJpegScan && marker <= 0xDD) ||
         (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

static int IsFrame(int marker) {
  return marker >= kJpegFrameBaseline && marker <= kJpegFrameLast &&
         marker != kJpegHuffmanTable && marker != kJpegReserved &&
         marker != kJpegArithmeticTable;
}

// The frame's components as the scans name them, and whether a scan has
// coded each in bytes that could hold it.
struct Sampling {
  int id[kLargestComponentCount];
  int h[kLargestComponentCount], v[kLargestComponentCount];
  int most_h, most_v;
  int coded[kLargestComponentCount];
};

// Blocks of one component as the decoder counts them: it covers the image
// at its share of the largest sampling factors.
static int64_t BlocksAcross(const JpegFrame *f, const Sampling *s, int c) {
  return (f->width * s->h[c] + 8 * s->most_h - 1) / (8 * s->most_h);
}
static int64_t BlocksDown(const JpegFrame *f, const Sampling *s, int c) {
  return (f->height * s->v[c] + 8 * s->most_v - 1) / (8 * s->most_v);
}

static int64_t RoundUp(int64_t value, int64_t step) {
  return (value + step - 1) / step * step;
}

static void CountBlocks(JpegFrame *f, const Sampling *s) {
  f->blocks = f->stored_blocks = 0;
  for (int c = 0; c < f->components; c++) {
    int64_t across = BlocksAcross(f, s, c), down = BlocksDown(f, s, c);
    f->blocks += across * down;
    f->stored_blocks += RoundUp(across, s->h[c]) * RoundUp(down, s->v[c]);
  }
}

// The frame header behind its length; 0 when it is cut short or names
// sampling factors the decoder refuses.
static int ReadFrameHeader(const unsigned char *p, size_t length, int marker,
                           JpegFrame *f, Sampling *s) {
  if (length < kJpegComponentFirst) return 0;
  f->marker = marker;
  f->height = Big16(p + kJpegHeight);
  f->width = Big16(p + kJpegWidth);
  f->components = p[kJpegComponents];
  if (length <
      (size_t)(kJpegComponentFirst + f->components * kJpegComponentBytes))
    return 0;
  s->most_h = s->most_v = 1;
  for (int c = 0; c < f->components; c++) {
    const unsigned char *component =
        p + kJpegComponentFirst + c * kJpegComponentBytes;
    s->id[c] = component[0];
    s->h[c] = component[kJpegSamplingInComponent] >> 4;
    s->v[c] = component[kJpegSamplingInComponent] & 15;
    // The decoder refuses any other factors before it allocates.
    if (s->h[c] < 1 || s->h[c] > 4 || s->v[c] < 1 || s->v[c] > 4) return 0;
    if (s->h[c] > s->most_h) s->most_h = s->h[c];
    if (s->v[c] > s->most_v) s->most_v = s->v[c];
  }
  CountBlocks(f, s);
  return 1;
}

static int64_t ComponentBlocks(const JpegFrame *f, const Sampling *s, int c) {
  return BlocksAcross(f, s, c) * BlocksDown(f, s, c);
}

// The components a scan header names by identifier, 2 bytes each, as the
// frame's indexes; returns how many, 0 when the header is cut short.
static int ScanComponents(const unsigned char *p, size_t length,
                          const JpegFrame *f, const Sampling *s,
                          int index[4]) {
  int named = length >= 1 ? p[0] : 0;
  if (named > 4 || length < 1 + 2 * (size_t)named) return 0;
  int count = 0;
  for (int i = 0; i < named; i++)
    for (int c = 0; c < f->components; c++)
      if (s->id[c] == p[1 + 2 * i]) {
        index[count++] = c;
        break;
      }
  return count;
}

// One scan, its header at body and its coded bytes from there to
// data_end: the first one's components and blocks are kept, and its
// components are marked coded when the bytes could hold a bit for each
// block it codes (no Huffman code is shorter).
static void TallyScan(const unsigned char *body, size_t length,
                      uint64_t coded_bytes, JpegFrame *f, Sampling *s) {
  int index[4];
  int count = ScanComponents(body, length, f, s, index);
  int64_t blocks = 0;
  for (int i = 0; i < count; i++) blocks += ComponentBlocks(f, s, index[i]);
  if (f->scans++ == 0) {
    f->scan_components = count;
    f->scan_blocks = blocks;
  }
  // Held at the largest sum, which no frame's scans come near.
  f->scanned_blocks += blocks < INT64_MAX - f->scanned_blocks
                           ? blocks
                           : INT64_MAX - f->scanned_blocks;
  if (coded_bytes * 8 < (uint64_t)blocks) return;
  for (int i = 0; i < count; i++) s->coded[index[i]] = 1;
}

static void FindUncoded(JpegFrame *f, const Sampling *s) {
  f->uncoded_component = -1;
  for (int c = 0; c < f->components; c++)
    if (!s->coded[c]) {
      f->uncoded_component = c;
      f->uncoded_blocks = ComponentBlocks(f, s, c);
      return;
    }
}

int StartJpegWalk(JpegWalk *walk, const unsigned char *data, size_t size) {
  *walk = JpegWalk{data, size, 0, 0, 0};
  return NextByte(walk) == 0xFF && NextByte(walk) == kJpegStart;
}

int NextJpegSegment(JpegWalk *r, JpegSegment *segment) {
  for (;;) {
    int marker = NextMarker(r);
    r->marker_at = marker < 0 ? r->size : r->at - 2;
    if (marker < 0 || marker == kJpegEnd) return 0;
    // SOI, RSTn and TEM stand alone. So, in effect, does a marker the
    // decoder does not know: the library lets it go on past one without
    // skipping a length, so a bogus length must not hide what follows.
    if (!HasLength(marker)) continue;
    size_t start = r->marker_at;
    // A length the bytes end inside, or runs past: the walk stops there.
    r->cut_marker = marker;
    if (r->size - r->at < 2) return 0;
    size_t length = Big16(r->data + r->at);
    if (length < 2) {  // a bogus length: the decoder reads on right behind it
      r->cut_marker = 0;
      r->at += 2;
      continue;
    }
    if (length > r->size - r->at) return 0;
    r->cut_marker = 0;
    *segment = JpegSegment{marker, start, r->at + 2, r->at + length};
    r->at += length;
    return 1;
  }
}

int JpegAppOrComment(int marker) {
  return (marker >= kJpegApp0 && marker <= kJpegApp15) ||
         marker == kJpegComment;
}

// Every scan behind the frame is counted, with the bytes it codes: up to
// the marker the walk stops at next.
int ReadJpegFrame(const unsigned char *data, size_t size, JpegFrame *frame) {
  JpegWalk walk;
  if (!StartJpegWalk(&walk, data, size)) return 0;
  *frame = JpegFrame{};
  Sampling sampling = {};
  int found = 0;
  JpegSegment s, scan = {};
  int in_scan = 0;
  for (;;) {
    int more = NextJpegSegment(&walk, &s);
    if (in_scan)
      TallyScan(data + scan.body, scan.end - scan.body,
                walk.marker_at - scan.end, frame, &sampling);
    in_scan = 0;
    if (!more) break;
    if (s.marker == kJpegScan) {
      if (!found) return 0;
      if (frame->scans == 0) frame->data_start = s.end;
      scan = s;
      in_scan = 1;
    } else if (IsFrame(s.marker) && !found) {
      if (!ReadFrameHeader(data + s.body, s.end - s.body, s.marker, frame,
                           &sampling))
        return 0;
      found = 1;
    } else if (frame->scans > 0 && JpegAppOrComment(s.marker)) {
      frame->late_markers++;
    }
  }
  if (frame->scans > 0 && JpegAppOrComment(walk.cut_marker))
    frame->late_markers++;
  if (found) FindUncoded(frame, &sampling);
  return found;
}

int JpegHuffmanCoded(const JpegFrame *frame) {
  return frame->marker <= kJpegFrameBaseline + 2;
}

int JpegProgressive(const JpegFrame *frame) {
  return frame->marker == 0xC2 || frame->marker == 0xC6 ||
         frame->marker == 0xCA || frame->marker == 0xCE;
}

int JpegBuffersWholePicture(const JpegFrame *frame) {
  return JpegProgressive(frame) ||
         frame->scan_components < frame->components;
}
