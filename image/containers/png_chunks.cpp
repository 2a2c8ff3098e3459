#include "image/containers/png_chunks.h"

#include <FreeImage.h>
#include <string.h>

#include "lib/byteorder.h"

static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G',
                                            13,   10,  26,  10};

// One chunk in the bytes: its type at type, its data behind.
struct Chunk {
  const unsigned char *type;
  const unsigned char *data;
  uint32_t length;
  int crc_holds;
};

// The chunk at offset, or 0 at the end of the bytes or past a length no
// PNG may state. Its CRC is checked only when check_crc is set.
static int ChunkAt(const unsigned char *bytes, size_t size, size_t offset,
                   int check_crc, Chunk *chunk) {
  if (size < 12 || offset > size - 12) return 0;
  chunk->length = Big32(bytes + offset);
  if (chunk->length > 0x7FFFFFFFu || chunk->length > size - 12 - offset)
    return 0;
  chunk->type = bytes + offset + 4;
  chunk->data = chunk->type + 4;
  chunk->crc_holds =
      check_crc &&
      FreeImage_ZLibCRC32(0, (BYTE *)chunk->type, 4 + chunk->length) ==
          Big32(chunk->data + chunk->length);
  return 1;
}

static int Is(const Chunk &chunk, const char *type) {
  return memcmp(chunk.type, type, 4) == 0;
}

static int ReadHeader(const Chunk &chunk, PngChunks *chunks) {
  if (!Is(chunk, "IHDR") || chunk.length != 13 || !chunk.crc_holds) return 0;
  chunks->width = Big32(chunk.data);
  chunks->height = Big32(chunk.data + 4);
  chunks->bit_depth = chunk.data[8];
  chunks->colour_type = chunk.data[9];
  return 1;
}

// Where libpng takes each chunk: gAMA and sRGB before PLTE, the first gAMA
// only, and iCCP before PLTE and not after sRGB.
struct ChunkOrder {
  int seen_palette;
  int profile_closed;  // past PLTE or sRGB, or an iCCP already met
};

static void TakeGamma(const Chunk &chunk, PngChunks *chunks) {
  if (chunk.length != 4 || !chunk.crc_holds || chunks->gamma != 0) return;
  uint32_t gamma = Big32(chunk.data);
  if (gamma >= 16 && gamma <= 625000000) chunks->gamma = gamma;
}

static void TakePalette(const Chunk &chunk, PngChunks *chunks) {
  if (chunk.length > 3 * 256 || chunk.length % 3 != 0 || !chunk.crc_holds)
    return;
  chunks->palette = chunk.data;
  chunks->palette_entries = (int)(chunk.length / 3);
}

// libpng takes the first tRNS chunk whose length and CRC hold.
static void TakeGreyKey(const Chunk &chunk, PngChunks *chunks) {
  if (chunks->colour_type == kPngGrey && chunk.length == 2 && chunk.crc_holds)
    chunks->grey_key = (int32_t)Big16(chunk.data);
}

static void TakeChunk(const Chunk &chunk, PngChunks *chunks,
                      ChunkOrder *order) {
  if (Is(chunk, "gAMA")) {
    if (!order->seen_palette) TakeGamma(chunk, chunks);
  } else if (Is(chunk, "sRGB")) {
    order->profile_closed = 1;
    if (!order->seen_palette && chunk.length == 1 && chunk.crc_holds)
      chunks->srgb = 1;
  } else if (Is(chunk, "PLTE")) {
    order->seen_palette = order->profile_closed = 1;
    TakePalette(chunk, chunks);
  } else if (Is(chunk, "tRNS")) {
    chunks->transparency = 1;  // CRC or not: it only ever adds to the cost
    if (chunks->grey_key < 0) TakeGreyKey(chunk, chunks);
  } else if (Is(chunk, "iCCP") && !order->profile_closed) {
    order->profile_closed = 1;
    if (chunk.crc_holds) {
      chunks->profile_chunk = chunk.data;
      chunks->profile_chunk_length = chunk.length;
    }
  }
}

// The IDAT chunks from offset on; libpng ends the pixel data at the first
// chunk of another type. A chunk cut short counts what is there.
static uint64_t PixelDataBytes(const unsigned char *data, size_t size,
                               size_t offset) {
  uint64_t bytes = 0;
  Chunk chunk;
  while (ChunkAt(data, size, offset, 0, &chunk) && Is(chunk, "IDAT")) {
    bytes += chunk.length;
    offset += 12 + (size_t)chunk.length;
  }
  if (offset + 8 < size && memcmp(data + offset + 4, "IDAT", 4) == 0)
    bytes += size - offset - 8;
  return bytes;
}

int ReadPngChunks(const unsigned char *data, size_t size, PngChunks *chunks) {
  *chunks = PngChunks{};
  chunks->grey_key = -1;
  chunks->file = data;
  chunks->file_size = size;
  Chunk chunk;
  if (size < sizeof kSignature || memcmp(data, kSignature, 8) != 0 ||
      !ChunkAt(data, size, 8, 1, &chunk) || !ReadHeader(chunk, chunks))
    return 0;
  ChunkOrder order = {0, 0};
  size_t offset = 8 + 12 + 13;
  while (ChunkAt(data, size, offset, 1, &chunk) && !Is(chunk, "IDAT") &&
         !Is(chunk, "IEND")) {
    TakeChunk(chunk, chunks, &order);
    offset += 12 + (size_t)chunk.length;
  }
  chunks->idat_bytes = PixelDataBytes(data, size, offset);
  return 1;
}

int PngChunkAt(const unsigned char *bytes, size_t size, size_t offset,
               PngChunk *chunk) {
  Chunk read;
  if (!ChunkAt(bytes, size, offset, 1, &read)) return 0;
  *chunk = PngChunk{read.type, read.data, read.length, read.crc_holds};
  return 1;
}

uint32_t PngChunkType(const PngChunk *chunk) { return Big32(chunk->type); }
