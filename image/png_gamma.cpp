#include "image/png_gamma.h"

#include <FreeImage.h>
#include <math.h>

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
                           const PngChunks *png) {
  for (int i = 0; i < count; i++) {
    const unsigned char *stored = png->palette + 3 * i;
    if (colours[i].rgbRed != stored[0] || colours[i].rgbGreen != stored[1] ||
        colours[i].rgbBlue != stored[2])
      return 0;
  }
  return 1;
}

void CorrectPngPaletteGamma(FIBITMAP *bitmap, const PngChunks *png) {
  unsigned char table[256];
  if (png->colour_type != kPngPalette || png->gamma == 0 || png->srgb ||
      !PngGammaTable(png->gamma, table))
    return;
  RGBQUAD *colours = FreeImage_GetPalette(bitmap);
  if (colours == NULL) return;
  int count = (int)FreeImage_GetColorsUsed(bitmap);
  if (count > png->palette_entries) count = png->palette_entries;
  if (!PaletteAsStored(colours, count, png)) return;
  for (int i = 0; i < count; i++) {
    colours[i].rgbRed = table[colours[i].rgbRed];
    colours[i].rgbGreen = table[colours[i].rgbGreen];
    colours[i].rgbBlue = table[colours[i].rgbBlue];
  }
}
