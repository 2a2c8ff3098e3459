// Where the fields that the program checks before loading sit in BMP, PNG and
// JPEG files: byte offsets from the start of the file (JPEG: of a segment).
// Shared with the tests that damage those fields on purpose.
#ifndef ORVANE_IMAGE_CONTAINERS_HEADER_FIELDS_H
#define ORVANE_IMAGE_CONTAINERS_HEADER_FIELDS_H

// BMP: little-endian fields of the file header and the info header behind it.
enum BmpHeaderField {
  kBmpPixelOffset = 10,   // 32 bits: where the pixel rows start
  kBmpInfoSize = 14,      // 32 bits: 40 or more for the current headers
  kBmpWidth = 18,         // signed 32 bits
  kBmpHeight = 22,        // signed 32 bits; negative: rows stored top-down
  kBmpPlanes = 26,        // 16 bits: 1
  kBmpBitsPerPixel = 28,  // 16 bits
  kBmpCompression = 30,   // 32 bits: 0 none, 3 bit fields, others packed
  kBmpFieldsEnd = 34,
  kBmpXPelsPerMeter = 38,  // 32 bits each: the resolution
  kBmpYPelsPerMeter = 42,
  // Bit fields: the masks inside V2 headers and later, or right behind an
  // info header of 40 (alpha there only with compression 6)
  kBmpRedMask = 54,
  kBmpGreenMask = 58,
  kBmpBlueMask = 62,
  kBmpAlphaMask = 66,  // V3 headers and later
  // V5 headers: an ICC profile, where the colour space says "MBED", lies
  // kBmpProfileData bytes from the start of the info header
  kBmpColourSpace = 70,
  kBmpProfileData = 126,
  kBmpProfileSize = 130,
  kBmpFileHeaderSize = 14,  // the file header, before the info header
  kBmpInfoHeaderSize = 40,  // the one info header the library accepts
  kBmpV3InfoSize = 56,      // the first with an alpha mask
  kBmpV5InfoSize = 124,     // the first with a profile
  // The old OS/2 info header, 12 bytes: 16-bit sizes, rows never packed.
  kBmpCoreInfoSize = 12,
  kBmpCoreWidth = 18,
  kBmpCoreHeight = 20,
  kBmpCoreBitsPerPixel = 24
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

// JPEG: segments of a marker (0xFF and a code) and, for most, a big-endian
// 16-bit length that counts itself. The frame header (SOFn) holds the size.
enum JpegMarker {
  kJpegStart = 0xD8,          // SOI, first in the file, no length
  kJpegEnd = 0xD9,            // EOI
  kJpegScan = 0xDA,           // SOS: coded data follows its header
  kJpegFrameBaseline = 0xC0,  // SOF0; SOF1 extended and SOF2 progressive
  kJpegFrameLast = 0xCF,      // SOF0..SOF15, less DHT, JPG and DAC below
  kJpegHuffmanTable = 0xC4,
  kJpegReserved = 0xC8,
  kJpegArithmeticTable = 0xCC,
  kJpegApp0 = 0xE0,  // APP0 to APP15: applications' segments
  kJpegApp1 = 0xE1,
  kJpegApp2 = 0xE2,
  kJpegApp13 = 0xED,
  kJpegApp14 = 0xEE,
  kJpegApp15 = 0xEF,
  kJpegComment = 0xFE  // COM
};

// Frame header fields, from the byte after the segment's length.
enum JpegFrameField {
  kJpegHeight = 1,          // 16 bits
  kJpegWidth = 3,           // 16 bits
  kJpegComponents = 5,      // 8 bits, then 3 bytes for each component:
  kJpegComponentFirst = 6,  // identifier, sampling (horizontal << 4 |
  kJpegComponentBytes = 3,  // vertical), quantisation table
  kJpegSamplingInComponent = 1
};

#endif
