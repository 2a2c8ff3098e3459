#include "image/forms.h"

#include <FreeImage.h>
#include <math.h>
#include <string.h>

static int IsPlainBitmap(FIBITMAP *bitmap) {
  return FreeImage_GetImageType(bitmap) == FIT_BITMAP;
}

// Every palette entry grey, in whatever order: such an image is a grey one.
static int HasGreyPalette(FIBITMAP *bitmap) {
  const RGBQUAD *palette = FreeImage_GetPalette(bitmap);
  for (unsigned i = 0; i < FreeImage_GetColorsUsed(bitmap); i++)
    if (palette[i].rgbRed != palette[i].rgbGreen ||
        palette[i].rgbRed != palette[i].rgbBlue)
      return 0;
  return 1;
}

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

// BMP rows of 32 bits keep a fourth byte that Windows takes for padding, not
// for alpha; files written so hold 0 there, and the library read every pixel
// of them as fully transparent.
static int AlphaAllZero(FIBITMAP *bitmap) {
  unsigned width = FreeImage_GetWidth(bitmap);
  for (unsigned y = 0; y < FreeImage_GetHeight(bitmap); y++) {
    const BYTE *pixel = FreeImage_GetScanLine(bitmap, y);
    for (unsigned x = 0; x < width; x++, pixel += 4)
      if (pixel[FI_RGBA_ALPHA] != 0) return 0;
  }
  return 1;
}

FIBITMAP *FormAfterLoad(FIBITMAP *bitmap, ImageFormat format) {
  if (!IsPlainBitmap(bitmap)) return bitmap;
  unsigned bpp = FreeImage_GetBPP(bitmap);
  if (bpp == 32 && format == kFormatBmp && AlphaAllZero(bitmap))
    return FreeImage_ConvertTo24Bits(bitmap);
  // 16-bit 555 and 565 pixels become 24-bit ones, which hold each of their
  // colours exactly: the library's PNG writer reads past the end of every
  // row of a 16-bit bitmap, and its resize makes 24 bits of them anyway.
  if (bpp == 16) return FreeImage_ConvertTo24Bits(bitmap);
  return bitmap;
}

// 16 bits a channel as 8, for the writers that take no more (BMP wrote them
// as 48 and 64-bit files no reader opens, and grey as 565 noise).
static FIBITMAP *EightBitsAChannel(FIBITMAP *bitmap) {
  switch (FreeImage_GetImageType(bitmap)) {
    case FIT_UINT16:
      return FreeImage_ConvertTo8Bits(bitmap);
    case FIT_RGB16:
      return FreeImage_ConvertTo24Bits(bitmap);
    case FIT_RGBA16:
      return FreeImage_ConvertTo32Bits(bitmap);
    default:
      return bitmap;
  }
}

// JPEG holds 8-bit grey or 24-bit colour, and no alpha: transparency is
// flattened onto white, the way a page shows it; 1 and 4-bit images become
// grey or colour as their palette is. The library's JPEG writer takes 8-bit
// palettes itself.
static FIBITMAP *JpegForm(FIBITMAP *bitmap) {
  unsigned bpp = FreeImage_GetBPP(bitmap);
  if (bpp == 24 || (bpp == 8 && !FreeImage_IsTransparent(bitmap)))
    return bitmap;
  if (bpp == 32 || FreeImage_IsTransparent(bitmap)) {
    FIBITMAP *wide = bpp == 32 ? bitmap : FreeImage_ConvertTo32Bits(bitmap);
    if (wide == NULL) return NULL;
    RGBQUAD white = {255, 255, 255, 0};
    FIBITMAP *flat = FreeImage_Composite(wide, FALSE, &white, NULL);
    if (wide != bitmap) FreeImage_Unload(wide);
    return flat;
  }
  if (HasGreyPalette(bitmap)) return FreeImage_ConvertToGreyscale(bitmap);
  return FreeImage_ConvertTo24Bits(bitmap);
}

FIBITMAP *FormForSaving(FIBITMAP *bitmap, ImageFormat format) {
  if (format == kFormatPng) return bitmap;  // its writer takes every form
  FIBITMAP *narrow = EightBitsAChannel(bitmap);
  if (narrow == NULL || format != kFormatJpeg || !IsPlainBitmap(narrow))
    return narrow;
  FIBITMAP *saved = JpegForm(narrow);
  if (narrow != bitmap && saved != narrow) FreeImage_Unload(narrow);
  return saved;
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

// Resampled as they are, the colours of transparent pixels (often black)
// bleed into their visible neighbours as a dark fringe. Resampled with the
// alpha applied, they weigh nothing; the alpha is taken off afterwards.
FIBITMAP *RescaleInForm(FIBITMAP *bitmap, int width, int height) {
  if (!IsPlainBitmap(bitmap) || !FreeImage_IsTransparent(bitmap))
    return FreeImage_Rescale(bitmap, width, height, FILTER_BSPLINE);
  FIBITMAP *applied = FreeImage_GetBPP(bitmap) == 32
                          ? FreeImage_Clone(bitmap)
                          : FreeImage_ConvertTo32Bits(bitmap);
  if (applied == NULL) return NULL;
  FIBITMAP *scaled = NULL;
  if (FreeImage_PreMultiplyWithAlpha(applied))
    scaled = FreeImage_Rescale(applied, width, height, FILTER_BSPLINE);
  FreeImage_Unload(applied);
  if (scaled != NULL) DivideByAlpha(scaled);
  return scaled;
}
