// Where the fields that the program checks before loading sit in BMP and PNG
// files: byte offsets from the start of the file. Shared with the tests that
// damage those fields on purpose.
#ifndef ORVANE_APP_IMAGE_HEADERS_H
#define ORVANE_APP_IMAGE_HEADERS_H

// BMP: little-endian fields of the file header and the info header behind it.
enum BmpHeaderField {
  kBmpPixelOffset = 10,   // 32 bits: where the pixel rows start
  kBmpInfoSize = 14,      // 32 bits: 40 or more for the current headers
  kBmpWidth = 18,         // signed 32 bits
  kBmpHeight = 22,        // signed 32 bits; negative: rows stored top-down
  kBmpBitsPerPixel = 28,  // 16 bits
  kBmpCompression = 30,   // 32 bits: 0 none, 3 bit fields, others packed
  kBmpFieldsEnd = 34
};

// PNG: the signature, then the IHDR chunk's length, type and big-endian data.
enum PngHeaderField {
  kPngChunkType = 12,   // "IHDR" in a well-formed file
  kPngWidth = 16,       // 32 bits
  kPngHeight = 20,      // 32 bits
  kPngBitDepth = 24,    // 8 bits
  kPngColourType = 25,  // 8 bits
  kPngHeaderCrc = 29,   // 32 bits, over the chunk's type and data
  kPngFieldsEnd = 33
};

#endif
