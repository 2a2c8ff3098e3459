#include "image/load/png_gamma.h"

#include <FreeImage.h>
#include <math.h>
#include <string.h>

#include "image/pixels/forms.h"

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

// Whether libpng changes the samples at all: a gAMA chunk, no sRGB chunk,
// and a gamma far enough from the display's.
static int GammaActs(const PngChunks *png, unsigned char table[256]) {
  return png->gamma != 0 && !png->srgb && PngGammaTable(png->gamma, table);
}

static void ApplyTable(RGBQUAD *colours, int count,
                       const unsigned char table[256]) {
  for (int i = 0; i < count; i++) {
    colours[i].rgbRed = table[colours[i].rgbRed];
    colours[i].rgbGreen = table[colours[i].rgbGreen];
    colours[i].rgbBlue = table[colours[i].rgbBlue];
  }
}

// The library copies the file's palette as libpng hands it over: the stored
// colours where libpng keeps its corrected copy to itself, corrected ones
// where it still shares it. Only the first needs the correction here.
static int PaletteAsStored(const RGBQUAD *colours, int count,
                           const PngChunks *png) {
  for (int i = 0; i < count; i++) {
    const unsigned char *stored = png->palette + 3 * i;
    if (colours[i].rgbRed != stored[0] || colours[i].rgbGreen != stored[1] ||
        colours[i].rgbBlue != stored[2])
      return 0;
  }
  return 1;
}

static void CorrectColourPalette(FIBITMAP *bitmap, const PngChunks *png) {
  unsigned char table[256];
  if (!GammaActs(png, table)) return;
  RGBQUAD *colours = FreeImage_GetPalette(bitmap);
  if (colours == NULL) return;
  int count = (int)FreeImage_GetColorsUsed(bitmap);
  if (count > png->palette_entries) count = png->palette_entries;
  if (PaletteAsStored(colours, count, png)) ApplyTable(colours, count, table);
}

// The library's own palette for grey pixels: an even ramp from black to
// white. Once corrected it is one no more.
static int PaletteIsGreyRamp(FIBITMAP *bitmap) {
  const RGBQUAD *colours = FreeImage_GetPalette(bitmap);
  unsigned count = FreeImage_GetColorsUsed(bitmap);
  if (colours == NULL || count < 2) return 0;
  for (unsigned i = 0; i < count; i++) {
    unsigned grey = i * 255 / (count - 1);
    if (colours[i].rgbRed != grey || colours[i].rgbGreen != grey ||
        colours[i].rgbBlue != grey)
      return 0;
  }
  return 1;
}

// The file's samples as stored, from a second load with libpng's gamma
// left out, in place of bitmap's pixels; the two loads make the same form.
// 0 when the second load fails.
static int LoadStoredSamples(FIBITMAP *bitmap, const PngChunks *png) {
  if (png->file == NULL || png->file_size > 0xFFFFFFFFu) return 0;
  FIMEMORY *memory =
      FreeImage_OpenMemory((BYTE *)png->file, (DWORD)png->file_size);
  if (memory == NULL) return 0;
  FIBITMAP *stored = FreeImage_LoadFromMemory(FIF_PNG, memory, PNG_IGNOREGAMMA);
  FreeImage_CloseMemory(memory);
  unsigned height = FreeImage_GetHeight(bitmap);
  int same = stored != NULL &&
             FreeImage_GetWidth(stored) == FreeImage_GetWidth(bitmap) &&
             FreeImage_GetHeight(stored) == height &&
             FreeImage_GetBPP(stored) == FreeImage_GetBPP(bitmap) &&
             FreeImage_GetPitch(stored) == FreeImage_GetPitch(bitmap);
  if (same)
    memcpy(FreeImage_GetBits(bitmap), FreeImage_GetBits(stored),
           (size_t)FreeImage_GetPitch(bitmap) * height);
  FreeImage_Unload(stored);
  return same;
}

// The key made transparent where its sample shows once widened to 8 bits
// (17 times a 4-bit one), which the pixels now hold.
static void PlaceGreyKey(FIBITMAP *bitmap, const PngChunks *png) {
  if (png->grey_key < 0 || FreeImage_GetBPP(bitmap) != 8 ||
      !FreeImage_IsTransparent(bitmap))
    return;
  int top = (1 << png->bit_depth) - 1;
  BYTE table[256];
  memset(table, 255, sizeof table);
  if (png->grey_key <= top) table[png->grey_key * (255 / top)] = 0;
  FreeImage_SetTransparencyTable(bitmap, table, 256);
}

// libpng's correction stands for the grey pixels it widened to 8 bits
// first; 4-bit ones, and any with a key to place, are corrected again from
// their samples as stored.
static int CorrectGrey(FIBITMAP *bitmap, const PngChunks *png) {
  unsigned char table[256];
  if ((FreeImage_GetBPP(bitmap) == 4 || FreeImage_IsTransparent(bitmap)) &&
      GammaActs(png, table) && PaletteIsGreyRamp(bitmap)) {
    if (!LoadStoredSamples(bitmap, png)) return 0;
    ApplyTable(FreeImage_GetPalette(bitmap),
               (int)FreeImage_GetColorsUsed(bitmap), table);
  }
  PlaceGreyKey(bitmap, png);
  return 1;
}

static int IsGreyOfUpTo8Bits(const PngChunks *png) {
  int depth = png->bit_depth;
  return png->colour_type == kPngGrey &&
         (depth == 1 || depth == 2 || depth == 4 || depth == 8);
}

int PngGreyLoadedTwice(const PngChunks *png) {
  unsigned char table[256];
  return IsGreyOfUpTo8Bits(png) &&
         (png->bit_depth == 4 || png->transparency) && GammaActs(png, table);
}

int CorrectPngPaletteGamma(FIBITMAP *bitmap, const PngChunks *png) {
  if (png->colour_type == kPngPalette) CorrectColourPalette(bitmap, png);
  if (IsGreyOfUpTo8Bits(png) && IsPlainBitmap(bitmap))
    return CorrectGrey(bitmap, png);
  return 1;
}
