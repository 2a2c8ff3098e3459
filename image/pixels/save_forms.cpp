// The forms each writer takes.
#include <FreeImage.h>

#include "image/pixels/forms.h"

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
