#include "tools/test_images.h"

#include <FreeImage.h>
#include <math.h>

static void SceneColour(int x, int y, int width, int height, RGBQUAD *c) {
  double u = (double)x / width;
  double v = (double)y / height;  // 0 at the top
  double sun = hypot(u - 0.75, (v - 0.25) * height / width);
  double hill = 0.62 + 0.08 * sin(u * 9.0) + 0.05 * sin(u * 23.0 + 1.0);
  int red, green, blue;
  if (v > hill) {
    red = 40 + (int)(60 * u);
    green = 110 + (int)(80 * (1 - v));
    blue = 40;
  } else if (sun < 0.08) {
    red = 255;
    green = 220;
    blue = 90;
  } else {
    red = 90 + (int)(100 * v);
    green = 150 + (int)(60 * v);
    blue = 235;
  }
  if ((x / 40 + y / 40) % 7 == 0 && v > hill) red = green = blue = 200;
  c->rgbRed = (BYTE)red;
  c->rgbGreen = (BYTE)green;
  c->rgbBlue = (BYTE)blue;
  c->rgbReserved = (BYTE)(255 - (x * 255 / (width > 1 ? width - 1 : 1)));
}

static void PaintScanLine(FIBITMAP *bitmap, int row, int width, int height,
                          int bpp) {
  BYTE *line = FreeImage_GetScanLine(bitmap, height - 1 - row);
  int step = bpp / 8;
  for (int x = 0; x < width; x++) {
    RGBQUAD c;
    SceneColour(x, row, width, height, &c);
    BYTE *pixel = line + x * step;
    if (bpp == 8) {
      pixel[0] = (BYTE)((c.rgbRed * 3 + c.rgbGreen * 6 + c.rgbBlue) / 10);
      continue;
    }
    pixel[FI_RGBA_RED] = c.rgbRed;
    pixel[FI_RGBA_GREEN] = c.rgbGreen;
    pixel[FI_RGBA_BLUE] = c.rgbBlue;
    if (bpp == 32) pixel[FI_RGBA_ALPHA] = c.rgbReserved;
  }
}

static void SetGreyPalette(FIBITMAP *bitmap) {
  RGBQUAD *palette = FreeImage_GetPalette(bitmap);
  for (int i = 0; i < 256; i++) {
    palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = (BYTE)i;
    palette[i].rgbReserved = 0;
  }
}

FIBITMAP *MakeSceneImage(int width, int height, int bpp) {
  FIBITMAP *bitmap = FreeImage_Allocate(width, height, bpp, FI_RGBA_RED_MASK,
                                        FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK);
  if (bitmap == NULL) return NULL;
  if (bpp == 8) SetGreyPalette(bitmap);
  for (int row = 0; row < height; row++)
    PaintScanLine(bitmap, row, width, height, bpp);
  return bitmap;
}

int WriteSceneImage(const char *path, int width, int height, int bpp) {
  FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path);
  if (format == FIF_UNKNOWN) return 0;
  FIBITMAP *bitmap = MakeSceneImage(width, height, bpp);
  if (bitmap == NULL) return 0;
  int flags = format == FIF_JPEG ? 90 : 0;
  int ok = FreeImage_Save(format, bitmap, path, flags);
  FreeImage_Unload(bitmap);
  return ok;
}
