#include "image/load/claims.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

// Pictures whose packing no file size bounds (arithmetic-coded JPEG, RLE
// BMP) are held to this many pixels instead, beyond any photo such files
// carry; the largest bitmap the library then makes is 192 MB.
static const int64_t kLargestUnboundedPixels = 8192 * 8192;

// PNG pixels are deflated, which shrinks data at most 1032 times.
static const int64_t kDeflateBestRatio = 1032;

// bytes * rows / packing > size, without the product overflowing.
static int RowsExceed(int64_t row_bytes, int64_t rows, int64_t packing,
                      int64_t size) {
  return rows > 0 && row_bytes > size * packing / rows;
}

// Writes why the file is refused; returns 1, the refusal.
__attribute__((format(printf, 3, 4))) static int Refuse(char *reason,
                                                        size_t reason_size,
                                                        const char *format,
                                                        ...) {
  va_list values;
  va_start(values, format);
  vsnprintf(reason, reason_size, format, values);
  va_end(values);
  return 1;
}

// A BMP's pixels start where its file header says, even past the end of the
// file: the library then read garbage (on Windows other garbage, its seek
// taking a 32-bit offset) and succeeded.
static int BmpClaimsTooMuch(const BmpHeader *h, int64_t size, char *reason,
                            size_t reason_size) {
  if (h->pixel_offset >= size)
    return Refuse(reason, reason_size,
                  "its pixel data would start at byte %u of %lld",
                  h->pixel_offset, (long long)size);
  if (BmpHasBitFields(h) && h->masks[0] == 0 && h->masks[1] == 0 &&
      h->masks[2] == 0)
    return Refuse(reason, reason_size,
                  "its bit-field masks, missing or 0, pick out no colour");
  if (BmpPixelsCompressed(h)) {
    if (h->width * h->height > kLargestUnboundedPixels)
      return Refuse(reason, reason_size,
                    "%lld x %lld compressed pixels: more than 8192 x 8192",
                    (long long)h->width, (long long)h->height);
    return 0;
  }
  if (RowsExceed(BmpRowBytes(h), h->height, 1, size))
    return Refuse(
        reason, reason_size, "%lld rows of %lld bytes in a file of %lld bytes",
        (long long)h->height, (long long)BmpRowBytes(h), (long long)size);
  return 0;
}

// The pixels are inflated from the IDAT chunks alone: other chunks, however
// long, hold none of them. Each row is its bytes behind a filter byte.
static int PngClaimsTooMuch(const PngChunks *p, char *reason,
                            size_t reason_size) {
  static const int kChannels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
  int channels = p->colour_type < 7 ? kChannels[p->colour_type] : 0;
  int64_t row_bits = (int64_t)p->width * channels * p->bit_depth;
  int64_t deflated = (int64_t)p->idat_bytes;
  if (RowsExceed(1 + (row_bits + 7) / 8, p->height, kDeflateBestRatio,
                 deflated))
    return Refuse(reason, reason_size,
                  "%u x %u pixels: more than its %lld deflated bytes can hold",
                  p->width, p->height, (long long)deflated);
  return 0;
}

// The decoder walks every block a scan covers, whether its bytes code
// anything or not, so a few bytes a scan can hold it for seconds. Encoders
// write up to about a dozen scans a component; 500 is the bound TurboJPEG
// holds the lossless edits to (TJFLAG_LIMITSCANS), so both paths refuse
// the same files.
static const int kMostJpegScans = 500;

// Fewer scans can make as much work, each over the whole picture: 500 AC
// scans of a flat 4096 x 4096 grey picture, 63 KB, held the decoder 7 to 9
// seconds. So the blocks of every scan, summed, are held to this many times
// the picture's own blocks. Encoders code each block at most 6 times (the
// progressive scripts of libjpeg, ImageMagick and jpegoptim, for grey and
// CMYK; 4.7 to 5.3 for colour; docs/reliability.md), and 32 passes over a
// 4096 x 4096 grey picture take the decoder about half a second.
static const int kMostScansPerBlock = 32;

// A Huffman code spends at least one bit on every block's DC value, so
// every component must be coded by some scan whose data holds at least one
// bit for each block that scan codes; a scan of the AC coefficients may
// code a run of empty blocks in a few bits, but the DC scans cannot. A
// photo cut short still passes unless only a few percent of it is left
// (camera photos spend 14 to 234 bits a block); the library shows what is
// there.
//
// Arithmetic coding can spend far less than a bit on a block (a flat 4000 x
// 4000 picture takes 209 bytes), so no file size bounds such a frame; those
// frames, like the lossless and hierarchical ones the library refuses
// itself, are held to kLargestUnboundedPixels.
static int JpegClaimsTooMuch(const JpegFrame *f, char *reason,
                             size_t reason_size) {
  if (f->components != 1 && f->components != 3 && f->components != 4)
    return Refuse(reason, reason_size,
                  "a frame of %d components; only 1, 3 or 4 are read",
                  f->components);
  if (f->scans > kMostJpegScans)
    return Refuse(reason, reason_size, "%d scans: more than %d", f->scans,
                  kMostJpegScans);
  if (f->scanned_blocks > kMostScansPerBlock * f->blocks)
    return Refuse(reason, reason_size,
                  "%d scans coding its %lld blocks %lld times over: more "
                  "than %d",
                  f->scans, (long long)f->blocks,
                  (long long)(f->scanned_blocks / f->blocks),
                  kMostScansPerBlock);
  if (!JpegHuffmanCoded(f)) {
    if (f->width * f->height > kLargestUnboundedPixels)
      return Refuse(
          reason, reason_size,
          "%lld x %lld pixels not Huffman-coded: more than 8192 x 8192",
          (long long)f->width, (long long)f->height);
    return 0;
  }
  if (f->uncoded_component >= 0)
    return Refuse(reason, reason_size,
                  "no scan has the bytes to code component %d (%lld blocks)",
                  f->uncoded_component + 1, (long long)f->uncoded_blocks);
  return 0;
}

int ClaimsMoreThanItHolds(const ImageHeaders *headers, char *reason,
                          size_t reason_size) {
  if (!headers->read) return 0;
  int64_t size = (int64_t)headers->file_size;
  switch (headers->format) {
    case kFormatBmp:
      return BmpClaimsTooMuch(&headers->bmp, size, reason, reason_size);
    case kFormatPng:
      return PngClaimsTooMuch(&headers->png, reason, reason_size);
    case kFormatJpeg:
      return JpegClaimsTooMuch(&headers->jpeg, reason, reason_size);
    default:
      return 0;
  }
}
