#include "image/jpeg_frame.h"

#include "image/header_fields.h"
#include "lib/byteorder.h"

enum { kLargestComponentCount = 255 };

// Reads past the end give -1.
static int NextByte(JpegWalk *r) {
  return r->at < r->size ? r->data[r->at++] : -1;
}

// The next marker's code, skipping what the decoder skips with a warning
// (stray bytes, fill bytes, stuffed zeros); -1 at the end.
static int NextMarker(JpegWalk *r) {
  int c;
  do {
    while ((c = NextByte(r)) >= 0 && c != 0xFF) {
    }
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

struct Sampling {
  int id[kLargestComponentCount];
  int h[kLargestComponentCount], v[kLargestComponentCount];
  int most_h, most_v;
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

// The scan header names its components by identifier, 2 bytes each.
static void ReadScanHeader(const unsigned char *p, size_t length, JpegFrame *f,
                           const Sampling *s) {
  int count = length >= 1 ? p[0] : 0;
  if (length < 1 + 2 * (size_t)count) count = 0;
  f->scan_components = count;
  f->scan_blocks = 0;
  for (int i = 0; i < count; i++)
    for (int c = 0; c < f->components; c++)
      if (s->id[c] == p[1 + 2 * i]) {
        f->scan_blocks += BlocksAcross(f, s, c) * BlocksDown(f, s, c);
        break;
      }
}

int StartJpegWalk(JpegWalk *walk, const unsigned char *data, size_t size) {
  *walk = JpegWalk{data, size, 0};
  return NextByte(walk) == 0xFF && NextByte(walk) == kJpegStart;
}

int NextJpegSegment(JpegWalk *r, JpegSegment *segment) {
  for (;;) {
    int marker = NextMarker(r);
    if (marker < 0 || marker == kJpegEnd) return 0;
    // SOI, RSTn and TEM stand alone. So, in effect, does a marker the
    // decoder does not know: the library lets it go on past one without
    // skipping a length, so a bogus length must not hide what follows.
    if (!HasLength(marker)) continue;
    size_t start = r->at - 2;
    if (r->size - r->at < 2) return 0;
    size_t length = Big16(r->data + r->at);
    if (length < 2) {  // a bogus length: the decoder reads on right behind it
      r->at += 2;
      continue;
    }
    if (length > r->size - r->at) return 0;
    *segment = JpegSegment{marker, start, r->at + 2, r->at + length};
    r->at += length;
    return 1;
  }
}

int ReadJpegFrame(const unsigned char *data, size_t size, JpegFrame *frame) {
  JpegWalk walk;
  if (!StartJpegWalk(&walk, data, size)) return 0;
  *frame = JpegFrame{};
  Sampling sampling = {};
  int found = 0;
  JpegSegment s;
  while (NextJpegSegment(&walk, &s)) {
    const unsigned char *body = data + s.body;
    if (s.marker == kJpegScan) {
      if (found) {
        ReadScanHeader(body, s.end - s.body, frame, &sampling);
        frame->data_start = s.end;
      }
      return found;
    }
    if (IsFrame(s.marker) && !found) {
      if (!ReadFrameHeader(body, s.end - s.body, s.marker, frame, &sampling))
        return 0;
      found = 1;
    }
  }
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
