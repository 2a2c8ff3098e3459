#include "image/containers/png_chunks.h"

#include <FreeImage.h>
#include <stdlib.h>
#include <string.h>

#include "lib/byteorder.h"

static const unsigned char kSignature[kPngSignatureSize] = {
    0x89, 'P', 'N', 'G', 13, 10, 26, 10};

int StartPngWalk(PngWalk *walk, const unsigned char *data, size_t size) {
  *walk = PngWalk{data, size, kPngSignatureSize};
  return size >= kPngSignatureSize &&
         memcmp(data, kSignature, kPngSignatureSize) == 0;
}

int NextPngChunk(PngWalk *walk, PngChunk *chunk) {
  size_t at = walk->at, size = walk->size;
  if (size < kPngChunkOverhead || at > size - kPngChunkOverhead) return 0;
  uint32_t length = Big32(walk->data + at);
  if (length > 0x7FFFFFFFu || length > size - kPngChunkOverhead - at) return 0;
  *chunk = PngChunk{walk->data + at + 4, walk->data + at + 8, length, at,
                    at + kPngChunkOverhead + length};
  walk->at = chunk->end;
  return 1;
}

int PngCrcHolds(const PngChunk *chunk) {
  return FreeImage_ZLibCRC32(0, (BYTE *)chunk->type, 4 + chunk->length) ==
         Big32(chunk->data + chunk->length);
}

uint32_t PngChunkType(const PngChunk *chunk) { return Big32(chunk->type); }

// Deflate codes at most 258 bytes in two bits, so no data inflates to
// more than 1032 times its size, with a little for zlib's head.
uint32_t InflateRoom(size_t size, uint32_t most) {
  uint64_t deflate_most = (uint64_t)size * 1032 + 1024;
  return deflate_most < most ? (uint32_t)deflate_most : most;
}

// One pass, into room for the most the data can give: pages of the room
// are only paid for as they are written, and what is left is given back.
unsigned char *InflatePngData(const unsigned char *data, size_t size,
                              uint32_t most, uint32_t *inflated) {
  if (size > 0xFFFFFFFFu) return NULL;
  uint32_t room = InflateRoom(size, most);
  unsigned char *out = (unsigned char *)malloc(room > 0 ? room : 1);
  if (out == NULL) return NULL;
  *inflated = FreeImage_ZLibUncompress(out, room, (BYTE *)data, (DWORD)size);
  if (*inflated == 0) {
    free(out);
    return NULL;
  }
  unsigned char *fitted = (unsigned char *)realloc(out, *inflated);
  return fitted != NULL ? fitted : out;
}

static int Is(const PngChunk &chunk, const char *type) {
  return memcmp(chunk.type, type, 4) == 0;
}

static int ReadHeader(const PngChunk &chunk, PngChunks *chunks) {
  if (!Is(chunk, "IHDR") || chunk.length != 13 || !PngCrcHolds(&chunk))
    return 0;
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

static void TakeGamma(const PngChunk &chunk, PngChunks *chunks) {
  if (chunk.length != 4 || !PngCrcHolds(&chunk) || chunks->gamma != 0) return;
  uint32_t gamma = Big32(chunk.data);
  if (gamma >= 16 && gamma <= 625000000) chunks->gamma = gamma;
}

static void TakePalette(const PngChunk &chunk, PngChunks *chunks) {
  if (chunk.length > 3 * 256 || chunk.length % 3 != 0 || !PngCrcHolds(&chunk))
    return;
  chunks->palette = chunk.data;
  chunks->palette_entries = (int)(chunk.length / 3);
}

// libpng takes the first tRNS chunk whose length and CRC hold.
static void TakeGreyKey(const PngChunk &chunk, PngChunks *chunks) {
  if (chunks->colour_type == kPngGrey && chunk.length == 2 && PngCrcHolds(&chunk))
    chunks->grey_key = (int32_t)Big16(chunk.data);
}

static void TakeChunk(const PngChunk &chunk, PngChunks *chunks,
                      ChunkOrder *order) {
  if (Is(chunk, "gAMA")) {
    if (!order->seen_palette) TakeGamma(chunk, chunks);
  } else if (Is(chunk, "sRGB")) {
    order->profile_closed = 1;
    if (!order->seen_palette && chunk.length == 1 && PngCrcHolds(&chunk))
      chunks->srgb = 1;
  } else if (Is(chunk, "PLTE")) {
    order->seen_palette = order->profile_closed = 1;
    TakePalette(chunk, chunks);
  } else if (Is(chunk, "tRNS")) {
    chunks->transparency = 1;  // CRC or not: it only ever adds to the cost
    if (chunks->grey_key < 0) TakeGreyKey(chunk, chunks);
  } else if (Is(chunk, "iCCP") && !order->profile_closed) {
    order->profile_closed = 1;
    if (PngCrcHolds(&chunk)) {
      chunks->profile_chunk = chunk.data;
      chunks->profile_chunk_length = chunk.length;
    }
  }
}

// The IDAT chunks from the walk's place on; libpng ends the pixel data at
// the first chunk of another type. A chunk cut short counts what is there.
static uint64_t PixelDataBytes(PngWalk *walk) {
  uint64_t bytes = 0;
  PngChunk chunk;
  size_t at = walk->at;
  while (NextPngChunk(walk, &chunk) && Is(chunk, "IDAT")) {
    bytes += chunk.length;
    at = walk->at;
  }
  if (at + 8 < walk->size && memcmp(walk->data + at + 4, "IDAT", 4) == 0)
    bytes += walk->size - at - 8;
  return bytes;
}

int ReadPngChunks(const unsigned char *data, size_t size, PngChunks *chunks) {
  *chunks = PngChunks{};
  chunks->grey_key = -1;
  chunks->file = data;
  chunks->file_size = size;
  PngWalk walk;
  PngChunk chunk;
  if (!StartPngWalk(&walk, data, size) || !NextPngChunk(&walk, &chunk) ||
      !ReadHeader(chunk, chunks))
    return 0;
  ChunkOrder order = {0, 0};
  for (size_t at = walk.at; NextPngChunk(&walk, &chunk); at = walk.at) {
    if (Is(chunk, "IDAT") || Is(chunk, "IEND")) {
      walk.at = at;  // the pixel data is counted from its first chunk
      break;
    }
    TakeChunk(chunk, chunks, &order);
  }
  chunks->idat_bytes = PixelDataBytes(&walk);
  return 1;
}
