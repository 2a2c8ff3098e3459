#include "image/containers/bmp_header.h"

#include "image/containers/header_fields.h"
#include "lib/byteorder.h"

static int IsWindowsV2OrLater(uint32_t info_size) {
  return info_size == 52 || info_size == 56 || info_size == 108 ||
         info_size == 124;
}

// OS/2 2.x headers are 16 to 64 bytes long: the same fields as Windows'
// header of 40, cut short or followed by OS/2's own.
static int IsOs2V2(uint32_t info_size) {
  return info_size >= 16 && info_size <= 64 &&
         info_size != kBmpInfoHeaderSize && !IsWindowsV2OrLater(info_size);
}

static BmpCompression CompressionOf(const unsigned char *data,
                                    uint32_t info_size, int os2) {
  if (info_size < 20) return kBmpRgb;  // a short OS/2 header states none
  uint32_t stated = Little32(data + kBmpCompression);
  // OS/2 numbers its Huffman and RLE24 codings as Windows does bit fields
  // and JPEG; the library reads neither.
  if (os2 && stated > kBmpRle4) return kBmpOs2Coding;
  return stated <= kBmpAlphaBitFields ? (BmpCompression)stated : kBmpOs2Coding;
}

static void ReadCoreHeader(const unsigned char *data, BmpHeader *header) {
  header->width = Little16(data + kBmpCoreWidth);
  header->height = Little16(data + kBmpCoreHeight);
  header->bits = Little16(data + kBmpCoreBitsPerPixel);
  header->compression = kBmpRgb;
}

// The fields of the 40-byte header that the longer and shorter ones share;
// a short OS/2 header lacks the later ones, which count as 0.
static void ReadInfoHeader(const unsigned char *data, BmpHeader *header) {
  int64_t width = (int32_t)Little32(data + kBmpWidth);
  int64_t height = (int32_t)Little32(data + kBmpHeight);
  header->top_down = height < 0;
  header->width = width < 0 ? -width : width;
  header->height = height < 0 ? -height : height;
  header->bits = Little16(data + kBmpBitsPerPixel);
  header->compression = CompressionOf(data, header->info_size, header->os2);
}

// The masks of a bit-field image: red, green and blue inside a V2 header
// or behind an info header of 40, alpha inside V3 and later, or behind the
// others with compression 6. A mask cut off by the end of the file reads 0.
static void ReadMasks(const unsigned char *data, size_t size,
                      BmpHeader *header) {
  if (!BmpHasBitFields(header)) return;
  int count = header->info_size >= kBmpV3InfoSize ||
                      header->compression == kBmpAlphaBitFields
                  ? 4
                  : 3;
  for (int i = 0; i < count; i++) {
    size_t at = kBmpRedMask + 4 * (size_t)i;
    if (at + 4 <= size) header->masks[i] = Little32(data + at);
  }
}

// A V5 header's embedded profile ("MBED"), when it lies behind the headers
// and wholly inside the file.
static void ReadProfile(const unsigned char *data, size_t size,
                        BmpHeader *header) {
  const uint32_t kEmbedded = 0x4D424544;  // "MBED", stored little-endian
  if (header->info_size != kBmpV5InfoSize ||
      Little32(data + kBmpColourSpace) != kEmbedded)
    return;
  uint64_t at = kBmpFileHeaderSize + (uint64_t)Little32(data + kBmpProfileData);
  uint64_t length = Little32(data + kBmpProfileSize);
  if (at < kBmpFileHeaderSize + kBmpV5InfoSize || length == 0 ||
      at + length > size)
    return;
  header->profile = data + at;
  header->profile_size = (uint32_t)length;
}

int ReadBmpHeader(const unsigned char *data, size_t size, BmpHeader *header) {
  if (size < kBmpFileHeaderSize + 4 || data[0] != 'B' || data[1] != 'M')
    return 0;
  *header = BmpHeader{};
  header->pixel_offset = Little32(data + kBmpPixelOffset);
  header->info_size = Little32(data + kBmpInfoSize);
  header->os2 = IsOs2V2(header->info_size);
  if (size < kBmpFileHeaderSize + (size_t)header->info_size) return 0;
  if (header->info_size == kBmpCoreInfoSize) {
    ReadCoreHeader(data, header);
    return 1;
  }
  if (header->info_size != kBmpInfoHeaderSize && !header->os2 &&
      !IsWindowsV2OrLater(header->info_size))
    return 0;
  ReadInfoHeader(data, header);
  ReadMasks(data, size, header);
  ReadProfile(data, size, header);
  return 1;
}

int BmpPixelsCompressed(const BmpHeader *header) {
  return (header->compression == kBmpRle8 && header->bits == 8) ||
         (header->compression == kBmpRle4 && header->bits == 4);
}

int BmpHasBitFields(const BmpHeader *header) {
  return (header->compression == kBmpBitFields ||
          header->compression == kBmpAlphaBitFields) &&
         (header->bits == 16 || header->bits == 24 || header->bits == 32);
}

int64_t BmpRowBytes(const BmpHeader *header) {
  return (header->width * header->bits + 31) / 32 * 4;
}
