#include "image/pixels/forms.h"

#include <FreeImage.h>

int IsPlainBitmap(FIBITMAP *bitmap) {
  return FreeImage_GetImageType(bitmap) == FIT_BITMAP;
}

int HasGreyPalette(FIBITMAP *bitmap) {
  const RGBQUAD *palette = FreeImage_GetPalette(bitmap);
  for (unsigned i = 0; i < FreeImage_GetColorsUsed(bitmap); i++)
    if (palette[i].rgbRed != palette[i].rgbGreen ||
        palette[i].rgbRed != palette[i].rgbBlue)
      return 0;
  return 1;
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
