#include "image/load/cost.h"

#include "image/load/bmp_load.h"
#include "image/load/png_gamma.h"

// The library's and its decoders' own state, beside the pixels: tables,
// zlib's window, a few rows.
static const uint64_t kLoaderOverhead = 1 << 20;

// A bitmap's pixels: rows padded to 4 bytes.
static uint64_t BitmapBytes(uint64_t width, uint64_t height, unsigned bits) {
  return (width * bits + 31) / 32 * 4 * height;
}

int PngLoadedBits(const PngChunks *png) {
  int depth = png->bit_depth, clear = png->transparency;
  switch (png->colour_type) {
    case kPngGrey:
      if (depth == 16) return clear ? 64 : 16;
      return depth == 2 || clear ? 8 : depth;
    case kPngPalette:
      return depth == 2 || clear ? 8 : depth;
    case kPngRgb:
      if (depth == 16) return clear ? 64 : 48;
      return clear ? 32 : 24;
    case kPngGreyAlpha:
    case kPngRgba:
      return depth == 16 ? 64 : 32;
    default:
      return 0;
  }
}

// libpng reads into the bitmap through one pointer a row; a grey image
// whose gamma is redone is loaded twice, the first bitmap kept meanwhile.
static uint64_t PngCost(const PngChunks *png) {
  uint64_t row_pointers = (uint64_t)png->height * sizeof(void *);
  uint64_t load = BitmapBytes(png->width, png->height, PngLoadedBits(png)) +
                  row_pointers;
  return PngGreyLoadedTwice(png) ? 2 * load : load;
}

// 16-bit pixels, and 32-bit ones (whose fourth bytes may all be 0), are
// turned into a 24-bit copy after loading, while the first still exists.
// Compressed pixels are decoded through a second bitmap at worst. Bit-field
// pixels are unpacked into plain rows the size of the bitmap the library
// makes of them, which are freed before any copy is made.
static uint64_t BmpCost(const BmpHeader *bmp) {
  int unpacked = BmpUnpackedBits(bmp);
  if (unpacked > 0) return 2 * BitmapBytes(bmp->width, bmp->height, unpacked);
  uint64_t loaded = BitmapBytes(bmp->width, bmp->height, bmp->bits);
  if (bmp->bits == 16 || bmp->bits == 32)
    return loaded + BitmapBytes(bmp->width, bmp->height, 24);
  return BmpPixelsCompressed(bmp) ? 2 * loaded : loaded;
}

int64_t ReducedSide(int64_t side, int reduction) {
  return (side + reduction - 1) / reduction;
}

// Grey or 24-bit colour out, each side reduced; a decoder that must see
// every scan before it shows the picture keeps 64 coefficients of 2 bytes
// for every block, whatever the reduction.
static uint64_t JpegCost(const JpegFrame *jpeg, int reduction) {
  unsigned bits = jpeg->components == 1 ? 8 : 24;
  uint64_t cost = BitmapBytes(ReducedSide(jpeg->width, reduction),
                              ReducedSide(jpeg->height, reduction), bits);
  if (JpegBuffersWholePicture(jpeg))
    cost += (uint64_t)jpeg->stored_blocks * 64 * 2;
  return cost;
}

int LoadedPictureBits(const ImageHeaders *headers) {
  if (!headers->read) return 0;
  switch (headers->format) {
    case kFormatBmp: {
      int unpacked = BmpUnpackedBits(&headers->bmp);
      if (unpacked > 0) return unpacked;
      return headers->bmp.bits == 16 ? 24 : headers->bmp.bits;
    }
    case kFormatPng:
      return PngLoadedBits(&headers->png);
    case kFormatJpeg:
      return headers->jpeg.components == 1 ? 8 : 24;
    default:
      return 0;
  }
}

uint64_t LoadCost(const ImageHeaders *headers, int reduction) {
  if (!headers->read) return 0;
  uint64_t pixels = 0;
  switch (headers->format) {
    case kFormatBmp:
      pixels = BmpCost(&headers->bmp);
      break;
    case kFormatPng:
      pixels = PngCost(&headers->png);
      break;
    case kFormatJpeg:
      pixels = JpegCost(&headers->jpeg, reduction > 1 ? reduction : 1);
      break;
    default:
      break;
  }
  return pixels + kLoaderOverhead;
}
