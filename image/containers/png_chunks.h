// The one pass over a PNG's chunks, read as libpng reads them: every
// chunk's CRC is checked, and a chunk counts only where libpng takes it;
// of the pixel data, only its length. What the check before loading, the gamma correction and
// the profile need all comes from here.
//
// Ownership: the pointers in PngChunks point into the caller's bytes and
// live as long as they do.
#ifndef ORVANE_IMAGE_CONTAINERS_PNG_CHUNKS_H
#define ORVANE_IMAGE_CONTAINERS_PNG_CHUNKS_H

#include <stddef.h>
#include <stdint.h>

enum PngColourType {
  kPngGrey = 0,
  kPngRgb = 2,
  kPngPalette = 3,
  kPngGreyAlpha = 4,
  kPngRgba = 6
};

struct PngChunks {
  // IHDR
  uint32_t width, height;
  int bit_depth, colour_type;
  int transparency;  // a tRNS chunk, whatever its CRC
  // gAMA and sRGB before PLTE with a good CRC; the first gAMA wins. 0: none
  uint32_t gamma;
  int srgb;
  // The first PLTE with a good CRC: 3 bytes an entry.
  const unsigned char *palette;
  int palette_entries;
  // The first iCCP, when it stands before PLTE, IDAT and sRGB and its CRC
  // holds: a name, its NUL, the method and the deflated profile.
  const unsigned char *profile_chunk;
  uint32_t profile_chunk_length;
  // The grey sample a grey image's tRNS chunk makes transparent: the first
  // whose length and CRC hold; -1: none.
  int32_t grey_key;
  // Bytes of deflated pixels: the IDAT chunks that follow one another from
  // the first, as libpng reads them, the last counting what the file holds
  // of it.
  uint64_t idat_bytes;
  // The whole file, for a second load of its pixels.
  const unsigned char *file;
  size_t file_size;
};

// 1 with chunks filled in when data is a PNG with a whole IHDR chunk; 0
// otherwise.
int ReadPngChunks(const unsigned char *data, size_t size, PngChunks *chunks);

// Chunk types, as the big-endian numbers their four letters make.
enum PngChunkTypeCode : uint32_t {
  kPngData = 0x49444154,              // IDAT
  kPngEnd = 0x49454E44,               // IEND
  kPngText = 0x74455874,              // tEXt
  kPngCompressedText = 0x7A545874,    // zTXt
  kPngInternationalText = 0x69545874, // iTXt
  kPngExif = 0x65584966               // eXIf
};
enum {
  kPngSignatureSize = 8,
  kPngChunkOverhead = 12  // length, type and CRC around the data
};

// One chunk of a PNG: its type's four bytes, its data behind them, and the
// whole chunk's place in the bytes, from its length to its CRC.
struct PngChunk {
  const unsigned char *type;
  const unsigned char *data;
  uint32_t length;
  size_t start, end;
};

// The one walk over a PNG's chunks, in the order they stand.
struct PngWalk {
  const unsigned char *data;
  size_t size, at;  // at: where the next chunk begins
};

// 0 when the bytes don't begin with PNG's signature.
int StartPngWalk(PngWalk *walk, const unsigned char *data, size_t size);

// The next chunk, IEND among them; 0 at the end of the bytes or at a length
// no PNG may state, with walk->at where the bytes that can't be walked
// begin.
int NextPngChunk(PngWalk *walk, PngChunk *chunk);

// Whether the chunk's CRC holds; reads all its data.
int PngCrcHolds(const PngChunk *chunk);

uint32_t PngChunkType(const PngChunk *chunk);

// A chunk's zlib data inflated, once, as a new heap block of *inflated
// bytes (free it); NULL when it is damaged, inflates to more than most
// bytes, or memory runs out.
unsigned char *InflatePngData(const unsigned char *data, size_t size,
                              uint32_t most, uint32_t *inflated);

// The room InflatePngData works in for size bytes of zlib data: most, or
// less where the data can't inflate to that much. What one try costs.
uint32_t InflateRoom(size_t size, uint32_t most);

#endif
