#include "image/png_gamma.h"

#include <FreeImage.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "lib/byteorder.h"

// What decides libpng's gamma handling, read from the chunks before the
// pixel data, under libpng's own rules: gAMA and sRGB count only before PLTE
// and with a good CRC; the first gAMA wins.
struct PngGammaFacts {
  int colour_type;
  uint32_t gamma;  // 0: none usable
  int srgb;
  int palette_entries;
  unsigned char palette[3 * 256];
};

static const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G',
                                               13,   10,  26,  10};
static const int kPaletteColourType = 3;

// Reads one small chunk's type, data and CRC into chunk (type first, as the
// CRC covers it); 1 when the CRC holds.
static int ReadSmallChunk(FILE *file, const unsigned char *type,
                          uint32_t length, unsigned char *chunk) {
  unsigned char crc[4];
  memcpy(chunk, type, 4);
  if (fread(chunk + 4, 1, length, file) != length ||
      fread(crc, 1, 4, file) != 4)
    return 0;
  return FreeImage_ZLibCRC32(0, chunk, length + 4) == Big32(crc);
}

// One chunk at the file's position; 0 at the pixel data, the end or damage.
static int ReadChunkFacts(FILE *file, PngGammaFacts *facts, int *seen_plte) {
  unsigned char head[8];
  if (fread(head, 1, 8, file) != 8) return 0;
  uint32_t length = Big32(head);
  const unsigned char *type = head + 4;
  if (length > 0x7fffffffu || memcmp(type, "IDAT", 4) == 0 ||
      memcmp(type, "IEND", 4) == 0)
    return 0;
  unsigned char chunk[4 + 3 * 256];
  int small = length <= sizeof chunk - 4;
  if (memcmp(type, "IHDR", 4) == 0 && length == 13) {
    if (!ReadSmallChunk(file, type, length, chunk)) return 0;
    facts->colour_type = chunk[4 + 9];
  } else if (memcmp(type, "gAMA", 4) == 0 && length == 4 && !*seen_plte) {
    if (ReadSmallChunk(file, type, length, chunk) && facts->gamma == 0) {
      uint32_t gamma = Big32(chunk + 4);
      if (gamma >= 16 && gamma <= 625000000) facts->gamma = gamma;
    }
  } else if (memcmp(type, "sRGB", 4) == 0 && length == 1 && !*seen_plte) {
    if (ReadSmallChunk(file, type, length, chunk)) facts->srgb = 1;
  } else if (memcmp(type, "PLTE", 4) == 0 && small && length % 3 == 0) {
    *seen_plte = 1;
    if (ReadSmallChunk(file, type, length, chunk)) {
      facts->palette_entries = (int)(length / 3);
      memcpy(facts->palette, chunk + 4, length);
    }
  } else {
    return fseek(file, (long)length + 4, SEEK_CUR) == 0;
  }
  return 1;
}

static int ReadGammaFacts(const char *path, PngGammaFacts *facts) {
  memset(facts, 0, sizeof *facts);
  facts->colour_type = -1;
  FILE *file = fopen(path, "rb");
  if (file == NULL) return 0;
  unsigned char signature[8];
  int ok = fread(signature, 1, 8, file) == 8 &&
           memcmp(signature, kPngSignature, 8) == 0;
  int seen_plte = 0;
  while (ok && ReadChunkFacts(file, facts, &seen_plte)) {
  }
  fclose(file);
  return ok;
}

int PngGammaTable(uint32_t file_gamma, unsigned char table[256]) {
  // libpng's fixed point: 2.2 is 220000, and a file gamma g stands for
  // g / 100000. Its arithmetic, step by step (png_gamma_threshold,
  // png_reciprocal2, png_gamma_8bit_correct), so the table is its own.
  const double kScreen = 220000;
  double product = floor(kScreen * file_gamma / 100000 + 0.5);
  if (product >= 95000 && product <= 105000) return 0;
  double exponent = floor(1e15 / file_gamma / kScreen + 0.5) * 0.00001;
  for (int i = 0; i < 256; i++)
    table[i] = (i == 0 || i == 255)
                   ? (unsigned char)i
                   : (unsigned char)floor(255 * pow(i / 255.0, exponent) + 0.5);
  return 1;
}

// The library copies the file's palette as libpng hands it over: the stored
// colours where libpng keeps its corrected copy to itself, corrected ones
// where it still shares it. Only the first needs the correction here.
static int PaletteAsStored(const RGBQUAD *colours, int count,
                           const PngGammaFacts *facts) {
  for (int i = 0; i < count; i++) {
    const unsigned char *stored = facts->palette + 3 * i;
    if (colours[i].rgbRed != stored[0] || colours[i].rgbGreen != stored[1] ||
        colours[i].rgbBlue != stored[2])
      return 0;
  }
  return 1;
}

void CorrectPngPaletteGamma(FIBITMAP *bitmap, const char *path) {
  PngGammaFacts facts;
  unsigned char table[256];
  if (!ReadGammaFacts(path, &facts) ||
      facts.colour_type != kPaletteColourType || facts.gamma == 0 ||
      facts.srgb || !PngGammaTable(facts.gamma, table))
    return;
  RGBQUAD *colours = FreeImage_GetPalette(bitmap);
  if (colours == NULL) return;
  int count = (int)FreeImage_GetColorsUsed(bitmap);
  if (count > facts.palette_entries) count = facts.palette_entries;
  if (!PaletteAsStored(colours, count, &facts)) return;
  for (int i = 0; i < count; i++) {
    colours[i].rgbRed = table[colours[i].rgbRed];
    colours[i].rgbGreen = table[colours[i].rgbGreen];
    colours[i].rgbBlue = table[colours[i].rgbBlue];
  }
}
