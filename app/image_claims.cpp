#include "app/image_claims.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "app/image_headers.h"

static uint32_t Little32(const unsigned char *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

static uint32_t Big32(const unsigned char *p) {
  return ((uint32_t)p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// The least a header's pixels take in the file: rows of row_bytes each,
// packed at best `packing` times smaller. rows 0: no claim to judge.
struct PixelClaim {
  int64_t row_bytes, rows, packing;
};

// row_bytes * rows / packing > size, without the product overflowing.
static int ClaimExceeds(PixelClaim claim, int64_t size) {
  return claim.rows > 0 && claim.row_bytes > size * claim.packing / claim.rows;
}

// Uncompressed BMP rows are stored whole, padded to 4 bytes.
static PixelClaim BmpClaim(const unsigned char *h) {
  PixelClaim none = {0, 0, 1};
  if (h[0] != 'B' || h[1] != 'M') return none;
  uint32_t compression = Little32(h + kBmpCompression);
  if (Little32(h + kBmpInfoSize) < 40 || (compression != 0 && compression != 3))
    return none;  // old or compressed headers: the library judges those
  int64_t width = (int32_t)Little32(h + kBmpWidth);
  int64_t height = (int32_t)Little32(h + kBmpHeight);
  int64_t bpp = h[kBmpBitsPerPixel] | (h[kBmpBitsPerPixel + 1] << 8);
  if (width < 0) width = -width;
  if (height < 0) height = -height;
  return {(width * bpp + 31) / 32 * 4, height, 1};
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
    return BmpPixelsOutside(header, size) ||
           ClaimExceeds(BmpClaim(header), size);
  return format == kFormatPng && ClaimExceeds(PngClaim(header), size);
}

// The library trusts the sizes in an image's header and allocates the whole
// bitmap first: one flipped byte made a 30 KB BMP claim 1.7 billion pixels
// (10 GB), and a 9 KB PNG claim 65535 x 65535 (13 GB, for 18 seconds). A
// header whose pixels could not fit in the file even at the format's best
// packing is damaged and is refused before the library sees it.
int ImageClaimsMoreThanItHolds(const char *path, ImageFormat format) {
  FILE *file = fopen(path, "rb");
  if (file == NULL) return 0;
  int refused = RowsClaimTooMuch(file, format);
  fclose(file);
  return refused;
}
