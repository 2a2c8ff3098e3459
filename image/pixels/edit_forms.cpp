// The edits in forms the library turns, flips and resizes right.
#include <FreeImage.h>
#include <math.h>
#include <string.h>

#include "image/pixels/forms.h"
#include "image/pixels/split_rescale.h"

// The palette, transparency table and background colour of from, onto to, a
// palette bitmap of the same depth.
static void CopyPaletteBack(FIBITMAP *to, FIBITMAP *from) {
  memcpy(FreeImage_GetPalette(to), FreeImage_GetPalette(from),
         FreeImage_GetColorsUsed(from) * sizeof(RGBQUAD));
  FreeImage_SetTransparencyTable(to, FreeImage_GetTransparencyTable(from),
                                 FreeImage_GetTransparencyCount(from));
  RGBQUAD background;
  if (FreeImage_GetBackgroundColor(from, &background))
    FreeImage_SetBackgroundColor(to, &background);
}

// A 4-bit bitmap as an 8-bit one with the same indices and colours. The
// library's conversion keeps the indices, but its palette only for colour
// palettes.
static FIBITMAP *NibblesAsBytes(FIBITMAP *nibbles) {
  FIBITMAP *bytes = FreeImage_ConvertTo8Bits(nibbles);
  if (bytes != NULL)
    memcpy(FreeImage_GetPalette(bytes), FreeImage_GetPalette(nibbles),
           16 * sizeof(RGBQUAD));
  return bytes;
}

// Back from NibblesAsBytes, with the palette of palette_from. The library
// makes 4 bits from 8 only through the grey of each entry, so the entries
// become a grey ramp whose top four bits are the index (17 i), and the
// real palette is copied back afterwards. bytes' palette is spent.
static FIBITMAP *BytesAsNibbles(FIBITMAP *bytes, FIBITMAP *palette_from) {
  RGBQUAD *ramp = FreeImage_GetPalette(bytes);
  for (int i = 0; i < 16; i++)
    ramp[i].rgbRed = ramp[i].rgbGreen = ramp[i].rgbBlue = (BYTE)(17 * i);
  FIBITMAP *nibbles = FreeImage_ConvertTo4Bits(bytes);
  if (nibbles != NULL) CopyPaletteBack(nibbles, palette_from);
  return nibbles;
}

// A palette bitmap in the form that can be turned by any angle: such a turn
// blends neighbouring pixels into colours no palette holds (the library
// blends the indices of 8-bit ones, and refuses 1 and 4-bit ones), so it
// becomes grey, colour or colour with alpha, as the library's resize does.
static FIBITMAP *BlendableForm(FIBITMAP *bitmap) {
  if (FreeImage_IsTransparent(bitmap)) return FreeImage_ConvertTo32Bits(bitmap);
  if (HasGreyPalette(bitmap)) return FreeImage_ConvertToGreyscale(bitmap);
  return FreeImage_ConvertTo24Bits(bitmap);
}

// A quarter turn moves pixels and blends none: 1 and 4-bit images keep their
// depth and their palette. The library's 1-bit turn gives a new black and
// white palette; its 4-bit turn does not exist, so those turn as 8 bits.
static FIBITMAP *QuarterTurnKeepingPalette(FIBITMAP *bitmap, double angle) {
  if (FreeImage_GetBPP(bitmap) == 1) {
    FIBITMAP *turned = FreeImage_Rotate(bitmap, angle, NULL);
    if (turned != NULL) CopyPaletteBack(turned, bitmap);
    return turned;
  }
  FIBITMAP *bytes = NibblesAsBytes(bitmap);
  if (bytes == NULL) return NULL;
  FIBITMAP *turned = FreeImage_Rotate(bytes, angle, NULL);
  FreeImage_Unload(bytes);
  if (turned == NULL) return NULL;
  FIBITMAP *nibbles = BytesAsNibbles(turned, bitmap);
  FreeImage_Unload(turned);
  return nibbles;
}

FIBITMAP *RotateInForm(FIBITMAP *bitmap, double angle) {
  unsigned bpp = FreeImage_GetBPP(bitmap);
  if (!IsPlainBitmap(bitmap) || bpp > 8 ||
      (bpp == 8 && FreeImage_GetColorType(bitmap) != FIC_PALETTE))
    return FreeImage_Rotate(bitmap, angle, NULL);  // grey ramps blend right
  if (fmod(angle, 90) == 0) {
    if (bpp == 8) return FreeImage_Rotate(bitmap, angle, NULL);
    return QuarterTurnKeepingPalette(bitmap, angle);
  }
  FIBITMAP *blendable = BlendableForm(bitmap);
  if (blendable == NULL) return NULL;
  FIBITMAP *turned = FreeImage_Rotate(blendable, angle, NULL);
  FreeImage_Unload(blendable);
  return turned;
}

// The library mirrors 4-bit rows a byte at a time, which moves an odd-width
// image by a pixel and loses its last column; the mirror is made as 8 bits
// and its rows copied back.
int FlipHorizontalInForm(FIBITMAP *bitmap) {
  if (FreeImage_GetBPP(bitmap) != 4) return FreeImage_FlipHorizontal(bitmap);
  FIBITMAP *bytes = NibblesAsBytes(bitmap);
  if (bytes == NULL) return 0;
  FIBITMAP *nibbles = NULL;
  if (FreeImage_FlipHorizontal(bytes)) nibbles = BytesAsNibbles(bytes, bitmap);
  FreeImage_Unload(bytes);
  if (nibbles == NULL) return 0;
  memcpy(FreeImage_GetBits(bitmap), FreeImage_GetBits(nibbles),
         (size_t)FreeImage_GetPitch(bitmap) * FreeImage_GetHeight(bitmap));
  FreeImage_Unload(nibbles);
  return 1;
}

// Undoes FreeImage_PreMultiplyWithAlpha, which the library has no inverse of.
static void DivideByAlpha(FIBITMAP *bitmap) {
  unsigned width = FreeImage_GetWidth(bitmap);
  for (unsigned y = 0; y < FreeImage_GetHeight(bitmap); y++) {
    BYTE *pixel = FreeImage_GetScanLine(bitmap, y);
    for (unsigned x = 0; x < width; x++, pixel += 4) {
      unsigned alpha = pixel[FI_RGBA_ALPHA];
      if (alpha == 0 || alpha == 255) continue;
      static const int kColours[] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
      for (int c : kColours) {
        unsigned value = (pixel[c] * 255u + alpha / 2) / alpha;
        pixel[c] = (BYTE)(value > 255 ? 255 : value);
      }
    }
  }
}

static_assert(kFilterBox == (int)FILTER_BOX &&
                  kFilterBicubic == (int)FILTER_BICUBIC &&
                  kFilterBilinear == (int)FILTER_BILINEAR &&
                  kFilterBSpline == (int)FILTER_BSPLINE &&
                  kFilterCatmullRom == (int)FILTER_CATMULLROM &&
                  kFilterLanczos3 == (int)FILTER_LANCZOS3,
              "ResizeFilter holds the library's own codes");

// Resampled as they are, the colours of transparent pixels (often black)
// bleed into their visible neighbours as a dark fringe. Resampled with the
// alpha applied, they weigh nothing; the alpha is taken off afterwards.
FIBITMAP *RescaleInForm(FIBITMAP *bitmap, int width, int height,
                        ResizeFilter filter) {
  FREE_IMAGE_FILTER code = (FREE_IMAGE_FILTER)filter;
  if (!IsPlainBitmap(bitmap) || !FreeImage_IsTransparent(bitmap))
    return SplitRescale(bitmap, width, height, code, ImageWorkers());
  FIBITMAP *applied = FreeImage_GetBPP(bitmap) == 32
                          ? FreeImage_Clone(bitmap)
                          : FreeImage_ConvertTo32Bits(bitmap);
  if (applied == NULL) return NULL;
  FIBITMAP *scaled = NULL;
  if (FreeImage_PreMultiplyWithAlpha(applied))
    scaled = SplitRescale(applied, width, height, code, ImageWorkers());
  FreeImage_Unload(applied);
  if (scaled != NULL) DivideByAlpha(scaled);
  return scaled;
}
