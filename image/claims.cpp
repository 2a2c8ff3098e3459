#include "image/claims.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "image/header_fields.h"
#include "lib/byteorder.h"

// The least a header's pixels take in the file: rows of row_bytes each,
// packed at best `packing` times smaller. rows 0: no claim to judge.
struct PixelClaim {
  int64_t row_bytes, rows, packing;
};

// row_bytes * rows / packing > size, without the product overflowing.
static int ClaimExceeds(PixelClaim claim, int64_t size) {
  return claim.rows > 0 && claim.row_bytes > size * claim.packing / claim.rows;
}

// Pictures whose packing no file size bounds (arithmetic-coded JPEG, RLE
// BMP) are held to this many pixels instead, beyond any photo such files
// carry; the largest bitmap the library then makes is 192 MB.
static const int64_t kLargestUnboundedPixels = 8192 * 8192;

static int BmpCompressed(const unsigned char *h) {
  uint32_t compression = Little32(h + kBmpCompression);
  return compression != 0 && compression != 3;  // 3: bit fields, unpacked
}

// BMP rows are stored whole, padded to 4 bytes, unless compressed.
static PixelClaim BmpClaim(const unsigned char *h) {
  PixelClaim none = {0, 0, 1};
  if (h[0] != 'B' || h[1] != 'M') return none;
  uint32_t info = Little32(h + kBmpInfoSize);
  int64_t width, height, bpp;
  if (info == kBmpCoreInfoSize) {
    width = Little16(h + kBmpCoreWidth);
    height = Little16(h + kBmpCoreHeight);
    bpp = Little16(h + kBmpCoreBitsPerPixel);
  } else {
    if (info < 40 || BmpCompressed(h)) return none;  // the library judges
    width = (int32_t)Little32(h + kBmpWidth);
    height = (int32_t)Little32(h + kBmpHeight);
    bpp = Little16(h + kBmpBitsPerPixel);
  }
  if (width < 0) width = -width;
  if (height < 0) height = -height;
  return {(width * bpp + 31) / 32 * 4, height, 1};
}

// Run-length coding skips any part of a picture in a few bytes, so only the
// size of a compressed BMP is judged.
static int BmpTooLargeToJudge(const unsigned char *h) {
  if (h[0] != 'B' || h[1] != 'M' || Little32(h + kBmpInfoSize) < 40 ||
      !BmpCompressed(h))
    return 0;
  int64_t width = (int32_t)Little32(h + kBmpWidth);
  int64_t height = (int32_t)Little32(h + kBmpHeight);
  return (width < 0 ? -width : width) * (height < 0 ? -height : height) >
         kLargestUnboundedPixels;
}

// PNG pixels are deflated, which shrinks data at most 1032 times.
static PixelClaim PngClaim(const unsigned char *h) {
  static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  PixelClaim none = {0, 0, 1};
  if (memcmp(h, kSignature, sizeof kSignature) != 0 ||
      memcmp(h + kPngChunkType, "IHDR", 4) != 0)
    return none;
  static const int kChannels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
  int colour = h[kPngColourType];
  int channels = colour < 7 ? kChannels[colour] : 0;
  return {(int64_t)Big32(h + kPngWidth) * channels * h[kPngBitDepth] / 8,
          Big32(h + kPngHeight), 1032};
}

// A BMP's pixels start where its file header says, even past the end of the
// file: the library then read garbage (on Windows other garbage, its seek
// taking a 32-bit offset) and succeeded.
static int BmpPixelsOutside(const unsigned char *h, int64_t size) {
  return h[0] == 'B' && h[1] == 'M' && Little32(h + kBmpPixelOffset) >= size;
}

static int64_t FileSize(FILE *file) {
  return fseek(file, 0, SEEK_END) == 0 ? (int64_t)ftell(file) : -1;
}

// BMP and PNG: the fields sit at fixed places near the start.
static int RowsClaimTooMuch(FILE *file, ImageFormat format) {
  static_assert((int)kPngFieldsEnd <= (int)kBmpFieldsEnd,
                "the header buffer holds both formats' fields");
  unsigned char header[kBmpFieldsEnd];
  size_t got = fread(header, 1, sizeof header, file);
  int64_t size = FileSize(file);
  if (got < sizeof header || size < 0) return 0;
  if (format == kFormatBmp)
    return BmpPixelsOutside(header, size) || BmpTooLargeToJudge(header) ||
           ClaimExceeds(BmpClaim(header), size);
  return format == kFormatPng && ClaimExceeds(PngClaim(header), size);
}

// ---- JPEG ----

// What the first frame header claims, and where the coded data begins.
struct JpegFrame {
  int64_t blocks;      // 8 x 8 blocks of all components together
  int64_t pixels;
  int huffman;         // baseline, extended or progressive Huffman coding
  int64_t data_start;  // just behind the first scan's header; 0: no scan
};


static int ReadBig16(FILE *file) {
  int high = getc(file);
  int low = getc(file);
  return (high < 0 || low < 0) ? -1 : high << 8 | low;
}

// The next marker's code, skipping what the library skips with a warning
// (stray bytes, fill bytes, stuffed zeros); EOF at the end of the file.
static int NextMarker(FILE *file) {
  int c;
  do {
    while ((c = getc(file)) != EOF && c != 0xFF) {
    }
    while (c == 0xFF) c = getc(file);
  } while (c == 0);
  return c;
}

static int StandsAlone(int marker) {  // no length follows: SOI, EOI, RSTn, TEM
  return marker == kJpegStart || marker == kJpegEnd ||
         (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01;
}

static int IsFrame(int marker) {
  return marker >= kJpegFrameBaseline && marker <= kJpegFrameLast &&
         marker != kJpegHuffmanTable && marker != kJpegReserved &&
         marker != kJpegArithmeticTable;
}

// Blocks as the library counts them: each component covers the image at its
// share of the largest sampling factors, in whole blocks.
static int64_t BlocksOf(const unsigned char *f, int components) {
  int64_t width = Big16(f + kJpegWidth), height = Big16(f + kJpegHeight);
  int most_h = 1, most_v = 1;
  for (int c = 0; c < components; c++) {
    int s = f[kJpegComponentFirst + c * kJpegComponentBytes +
              kJpegSamplingInComponent];
    if (s >> 4 > most_h) most_h = s >> 4;
    if ((s & 15) > most_v) most_v = s & 15;
  }
  int64_t blocks = 0;
  for (int c = 0; c < components; c++) {
    int s = f[kJpegComponentFirst + c * kJpegComponentBytes +
              kJpegSamplingInComponent];
    int64_t across = (width * (s >> 4) + 8 * most_h - 1) / (8 * most_h);
    int64_t down = (height * (s & 15) + 8 * most_v - 1) / (8 * most_v);
    blocks += across * down;
  }
  return blocks;
}

// The frame header after its length field; 0 when it is cut short.
static int ReadFrame(FILE *file, int marker, int length, JpegFrame *frame) {
  unsigned char f[kJpegComponentFirst + 255 * kJpegComponentBytes];
  size_t want = (size_t)length - 2;
  if (want > sizeof f) want = sizeof f;
  if (want < kJpegComponentFirst || fread(f, 1, want, file) != want) return 0;
  int components = f[kJpegComponents];
  if (want < (size_t)(kJpegComponentFirst + components * kJpegComponentBytes))
    return 0;
  frame->blocks = BlocksOf(f, components);
  frame->pixels = (int64_t)Big16(f + kJpegWidth) * Big16(f + kJpegHeight);
  frame->huffman = marker <= kJpegFrameBaseline + 2;  // SOF0, SOF1, SOF2
  return 1;
}

// Walks the segments as the library does up to the first scan. 1 with the
// frame filled in when a frame header comes first; 0 when none can be read
// (the library judges such a file).
static int ReadJpegFrame(FILE *file, JpegFrame *frame) {
  if (getc(file) != 0xFF || getc(file) != kJpegStart) return 0;
  int found = 0;
  frame->data_start = 0;
  for (;;) {
    int marker = NextMarker(file);
    if (marker == EOF || marker == kJpegEnd) return found;
    if (StandsAlone(marker)) continue;
    int length = ReadBig16(file);
    long next = ftell(file) + length - 2;
    if (length < 2 || next < 0) return found;
    if (marker == kJpegScan) {
      if (found) frame->data_start = next;
      return found;
    }
    if (IsFrame(marker) && !found) {
      if (!ReadFrame(file, marker, length, frame)) return 0;
      found = 1;
    }
    if (fseek(file, next, SEEK_SET) != 0) return found;
  }
}

// A Huffman-coded frame spends at least one bit on every block's DC value,
// so a whole file holds blocks / 8 bytes behind its first scan header. The
// bound is kept 16 times wider, so that even a tenth of the flattest picture
// passes: the library shows a cut photo, grey where the data ends.
static const int64_t kJpegBlocksPerByte = 8 * 16;

// Arithmetic coding can spend far less than a bit on a block (a flat 4000 x
// 4000 picture takes 209 bytes), so no file size bounds such a frame; those
// frames, like the lossless and hierarchical ones the library refuses
// itself, are held to kLargestUnboundedPixels.

static int JpegClaimsTooMuch(FILE *file) {
  JpegFrame frame;
  if (!ReadJpegFrame(file, &frame)) return 0;
  if (!frame.huffman) return frame.pixels > kLargestUnboundedPixels;
  int64_t size = FileSize(file);
  if (size < 0) return 0;
  int64_t coded = frame.data_start > 0 ? size - frame.data_start : 0;
  PixelClaim claim = {frame.blocks, 1, kJpegBlocksPerByte};
  return ClaimExceeds(claim, coded);
}

// The library trusts the sizes in an image's header and allocates the whole
// bitmap first: one flipped byte made a 30 KB BMP claim 1.7 billion pixels
// (10 GB), a 9 KB PNG claim 65535 x 65535 (13 GB, for 18 seconds), and a
// 4 KB JPEG 65500 x 65500 (12.7 GB, 68 seconds, then a grey picture). A
// header whose pixels could not fit in the file even at the format's best
// packing is damaged and is refused before the library sees it.
int ImageClaimsMoreThanItHolds(const char *path, ImageFormat format) {
  FILE *file = fopen(path, "rb");
  if (file == NULL) return 0;
  int refused = format == kFormatJpeg ? JpegClaimsTooMuch(file)
                                      : RowsClaimTooMuch(file, format);
  fclose(file);
  return refused;
}
