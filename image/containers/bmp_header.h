// The one reader of BMP headers: the 12-byte core header, OS/2 2.x headers
// of any length from 16 to 64 bytes, the 40-byte info header and its V2 to
// V5 successors all come out as one record, which the check before loading
// and the form shown to the library both use.
//
// Ownership: nothing is allocated; the record holds numbers, and a pointer
// into the caller's bytes (the embedded profile) that lives as long as they
// do.
#ifndef ORVANE_IMAGE_CONTAINERS_BMP_HEADER_H
#define ORVANE_IMAGE_CONTAINERS_BMP_HEADER_H

#include <stddef.h>
#include <stdint.h>

// Compression as Windows numbers it; OS/2 2.x reuses 3 and 4 for its own
// Huffman and RLE24 codings, which become kBmpOs2Coding.
enum BmpCompression {
  kBmpRgb = 0,
  kBmpRle8 = 1,
  kBmpRle4 = 2,
  kBmpBitFields = 3,
  kBmpJpeg = 4,
  kBmpPng = 5,
  kBmpAlphaBitFields = 6,
  kBmpOs2Coding = 100
};

struct BmpHeader {
  uint32_t pixel_offset;  // where the pixel data starts in the file
  uint32_t info_size;
  int64_t width, height;  // both made positive
  int top_down;           // the height was stored negative
  unsigned bits;          // per pixel
  BmpCompression compression;
  int os2;  // an OS/2 2.x header (16 to 64 bytes, not 40)
  // Bit-field pixels: the masks of red, green, blue and alpha, from the
  // header or behind it; 0 for a mask the file lacks or cuts off.
  uint32_t masks[4];
  // An ICC profile a V5 header embeds, wholly inside the file; NULL: none.
  const unsigned char *profile;
  uint32_t profile_size;
};

// 1 with header filled in when data starts with a BMP header of a known
// kind; 0 when it is too short or of no kind the library reads.
int ReadBmpHeader(const unsigned char *data, size_t size, BmpHeader *header);

// Whether the library decodes the pixels' run lengths, so no file size
// bounds them: RLE8 at 8 bits, RLE4 at 4. It reads 16, 24 and 32-bit rows
// raw whatever the compression says, and refuses other codings (after it
// has allocated the bitmap), so elsewhere the rows must fit in the file.
int BmpPixelsCompressed(const BmpHeader *header);

// Whether the pixels are 16, 24 or 32-bit ones coded by masks (compression
// 3, or 6 with an alpha mask).
int BmpHasBitFields(const BmpHeader *header);

// Bytes of one stored row: whole, padded to 4 bytes.
int64_t BmpRowBytes(const BmpHeader *header);

#endif
