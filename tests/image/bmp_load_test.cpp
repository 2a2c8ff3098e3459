// BMP files as the common tools write them: the same pictures as the
// library's own 40-byte files, behind the info headers that ImageMagick,
// GIMP, libvips and OS/2 write.
#include "image/load/bmp_load.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/image/loading.h"
#include "tests/temp_folder.h"
#include "tools/test_images.h"

namespace {

uint32_t Field(const std::string &file, size_t at) {
  const unsigned char *p = (const unsigned char *)file.data() + at;
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

void SetField(std::string *file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) (*file)[at + i] = (char)(value >> (8 * i));
}

class BmpForms : public ::testing::Test {
 protected:
  // The library's own BMP of a bitmap: a 40-byte info header.
  std::string LibraryBmp(FIBITMAP *bitmap) {
    std::string path = folder_.Path("library.bmp");
    EXPECT_TRUE(FreeImage_Save(FIF_BMP, bitmap, path.c_str(), 0));
    return ReadWholeFile(path);
  }

  // The same file with an info header of info_size bytes: the first 40
  // bytes kept as far as they fit, masks (red, green, blue, alpha) placed
  // where V2 headers and later hold them, the rest zero.
  static std::string WithInfoHeader(const std::string &bmp, uint32_t info_size,
                                    const uint32_t *masks = nullptr) {
    size_t masks_behind = Field(bmp, 30) == 3 ? 12 : 0;  // 16-bit files
    std::string info = bmp.substr(14, 40);
    info.resize(info_size, '\0');
    SetField(&info, 0, info_size);
    for (uint32_t i = 0; masks != nullptr && i < 4 && 44 + 4 * i <= info_size;
         i++)
      SetField(&info, 40 + 4 * i, masks[i]);
    std::string file = bmp.substr(0, 14) + info + bmp.substr(54 + masks_behind);
    SetField(&file, 10, Field(bmp, 10) - 40 - masks_behind + info_size);
    SetField(&file, 2, (uint32_t)file.size());
    return file;
  }

  FIBITMAP *Load(const std::string &file) {
    std::string path = folder_.Path("shown.bmp");
    WriteWholeFile(path, file);
    return LoadedBmp(path);
  }

  // Same size, depth, pixels and palette.
  static void ExpectSamePicture(FIBITMAP *expected, FIBITMAP *actual) {
    ASSERT_NE(nullptr, actual);
    ASSERT_EQ(FreeImage_GetBPP(expected), FreeImage_GetBPP(actual));
    ASSERT_EQ(FreeImage_GetWidth(expected), FreeImage_GetWidth(actual));
    ASSERT_EQ(FreeImage_GetHeight(expected), FreeImage_GetHeight(actual));
    for (unsigned y = 0; y < FreeImage_GetHeight(expected); y++)
      ASSERT_EQ(0, memcmp(FreeImage_GetScanLine(expected, y),
                          FreeImage_GetScanLine(actual, y),
                          FreeImage_GetLine(expected)))
          << "row " << y;
    unsigned colours = FreeImage_GetColorsUsed(expected);
    ASSERT_EQ(colours, FreeImage_GetColorsUsed(actual));
    if (colours > 0) {  // no palette at all above 8 bits
      EXPECT_EQ(0, memcmp(FreeImage_GetPalette(expected),
                          FreeImage_GetPalette(actual),
                          colours * sizeof(RGBQUAD)));
    }
  }

  TempFolder folder_;
};

TEST_F(BmpForms, EveryInfoHeaderOfTheCommonToolsLoads) {
  for (int bpp : {8, 24}) {
    FIBITMAP *scene = MakeSceneImage(37, 21, bpp);  // rows padded
    std::string bmp = LibraryBmp(scene);
    FIBITMAP *expected = Load(bmp);
    // Windows V2 to V5 (V4 and V5 from ImageMagick, GIMP and libvips), and
    // OS/2 2.x, whole (64) and cut short (16).
    for (uint32_t size : {52u, 56u, 108u, 124u, 64u, 16u}) {
      SCOPED_TRACE(testing::Message() << bpp << "-bit, header of " << size);
      FIBITMAP *loaded = Load(WithInfoHeader(bmp, size));
      ExpectSamePicture(expected, loaded);
      if (loaded != nullptr && size >= 40) {
        EXPECT_EQ(FreeImage_GetDotsPerMeterX(expected),
                  FreeImage_GetDotsPerMeterX(loaded));
      }
      FreeImage_Unload(loaded);
    }
    FreeImage_Unload(expected);
    FreeImage_Unload(scene);
  }
}

// Within one of each other in every channel: one widening of 5 and 6-bit
// channels rounds down, the other to the nearest value.
void ExpectColoursWithinOne(FIBITMAP *expected, FIBITMAP *actual) {
  ASSERT_NE(nullptr, actual);
  ASSERT_EQ(FreeImage_GetWidth(expected), FreeImage_GetWidth(actual));
  ASSERT_EQ(FreeImage_GetHeight(expected), FreeImage_GetHeight(actual));
  for (unsigned y = 0; y < FreeImage_GetHeight(expected); y++)
    for (unsigned x = 0; x < FreeImage_GetWidth(expected); x++) {
      RGBQUAD a, b;
      FreeImage_GetPixelColor(expected, x, y, &a);
      FreeImage_GetPixelColor(actual, x, y, &b);
      ASSERT_LE(abs(a.rgbRed - b.rgbRed), 1) << x << "," << y;
      ASSERT_LE(abs(a.rgbGreen - b.rgbGreen), 1) << x << "," << y;
      ASSERT_LE(abs(a.rgbBlue - b.rgbBlue), 1) << x << "," << y;
    }
}

TEST_F(BmpForms, BitFieldMasksInTheHeaderAreHonoured) {
  FIBITMAP *scene = MakeSceneImage(37, 21, 24);
  FIBITMAP *rgb565 = FreeImage_ConvertTo16Bits565(scene);
  FIBITMAP *rgba = MakeSceneImage(37, 21, 32);
  const uint32_t k565[] = {0xF800, 0x07E0, 0x001F, 0};
  const uint32_t kBgra[] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  for (uint32_t size : {56u, 108u, 124u}) {
    SCOPED_TRACE(size);
    std::string bmp565 = LibraryBmp(rgb565);
    FIBITMAP *expected = Load(bmp565);
    FIBITMAP *loaded = Load(WithInfoHeader(bmp565, size, k565));
    ExpectSamePicture(expected, loaded);
    ExpectColoursWithinOne(rgb565, loaded);  // not taken for 555
    FreeImage_Unload(loaded);
    FreeImage_Unload(expected);

    std::string bmp32 = LibraryBmp(rgba);
    expected = Load(bmp32);
    std::string bit_fields = WithInfoHeader(bmp32, size, kBgra);
    SetField(&bit_fields, 30, 3);
    loaded = Load(bit_fields);
    ExpectSamePicture(expected, loaded);
    FreeImage_Unload(loaded);
    FreeImage_Unload(expected);
  }
  FreeImage_Unload(rgba);
  FreeImage_Unload(rgb565);
  FreeImage_Unload(scene);
}

// A BMP of bit-field pixels, each stored in bits with masks red, green,
// blue and alpha (0: none): inside the header from V2 on (alpha from V3
// on), behind it before (with compression 6 for alpha). pixels[y][x] is
// row y from the top.
std::string BitFieldBmp(uint32_t info_size, unsigned bits,
                        const uint32_t masks[4],
                        const std::vector<std::vector<uint32_t>> &pixels,
                        bool top_down = false) {
  int count = masks[3] != 0 ? 4 : 3;
  size_t masks_end = 54 + 4 * count;
  std::string head(std::max<size_t>(14 + info_size, masks_end), '\0');
  head[0] = 'B';
  head[1] = 'M';
  SetField(&head, 14, info_size);
  uint32_t width = (uint32_t)pixels[0].size(), height = (uint32_t)pixels.size();
  SetField(&head, 18, width);
  SetField(&head, 22, top_down ? (uint32_t)-(int32_t)height : height);
  head[26] = 1;
  head[28] = (char)bits;
  SetField(&head, 30, count == 4 && info_size < 56 ? 6 : 3);
  for (int i = 0; i < count; i++) SetField(&head, 54 + 4 * i, masks[i]);
  SetField(&head, 10, (uint32_t)head.size());
  std::string rows;
  for (uint32_t stored = 0; stored < height; stored++) {
    const std::vector<uint32_t> &row =
        pixels[top_down ? stored : height - 1 - stored];
    for (uint32_t pixel : row)
      for (unsigned i = 0; i < bits / 8; i++) rows += (char)(pixel >> (8 * i));
    while (rows.size() % 4 != 0) rows += '\0';
  }
  std::string file = head + rows;
  SetField(&file, 2, (uint32_t)file.size());
  return file;
}

// Masks of any widths, places and order, in every header that holds them:
// each channel comes out as the nearest 8-bit value, alpha only from an
// alpha mask.
TEST_F(BmpForms, BitFieldsOfAnyMasksLoadInTheirColours) {
  struct Layout {
    const char *name;
    unsigned bits;
    uint32_t masks[4];
    uint32_t pixel;
    RGBQUAD shown;  // blue, green, red, alpha
  };
  const Layout kLayouts[] = {
      {"565", 16, {0xF800, 0x07E0, 0x001F, 0}, 16u << 11 | 32 << 5 | 15,
       {123, 130, 132, 255}},
      {"2-3-1", 16, {0x30, 0x0E, 0x01, 0}, 0x27, {255, 109, 170, 255}},
      {"4444", 16, {0xF00, 0xF0, 0xF, 0xF000}, 0x8C3F, {255, 51, 204, 136}},
      {"1555", 16, {0x7C00, 0x3E0, 0x1F, 0x8000}, 0xFC00, {0, 0, 255, 255}},
      {"RGB bytes", 24, {0xFF, 0xFF00, 0xFF0000, 0}, 0x332211,
       {0x33, 0x22, 0x11, 255}},
      {"xBGR", 32, {0xFF000000, 0xFF0000, 0xFF00, 0}, 0x11223344,
       {0x33, 0x22, 0x11, 255}},
      {"BGRx with its x set", 32, {0xFF0000, 0xFF00, 0xFF, 0}, 0x80112233,
       {0x33, 0x22, 0x11, 255}},
      {"RGBA", 32, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}, 0x11223380,
       {0x33, 0x22, 0x11, 0x80}},
      {"11-11-10", 32, {0xFFE00000, 0x1FFC00, 0x3FF, 0},
       1024u << 21 | 1 << 10 | 1023, {255, 0, 128, 255}},
  };
  for (const Layout &layout : kLayouts) {
    for (uint32_t size : {40u, 52u, 56u, 108u, 124u}) {
      SCOPED_TRACE(testing::Message() << layout.name << ", header of " << size);
      std::vector<std::vector<uint32_t>> pixels(2, {0, layout.pixel, 0});
      FIBITMAP *loaded = Load(BitFieldBmp(size, layout.bits, layout.masks,
                                          pixels));
      ASSERT_NE(nullptr, loaded);
      EXPECT_EQ(layout.masks[3] != 0 ? 32u : 24u, FreeImage_GetBPP(loaded));
      for (unsigned y = 0; y < 2; y++) {
        RGBQUAD c, black;
        FreeImage_GetPixelColor(loaded, 1, y, &c);
        EXPECT_EQ(layout.shown.rgbRed, c.rgbRed);
        EXPECT_EQ(layout.shown.rgbGreen, c.rgbGreen);
        EXPECT_EQ(layout.shown.rgbBlue, c.rgbBlue);
        if (layout.masks[3] != 0) {
          EXPECT_EQ(layout.shown.rgbReserved, c.rgbReserved);
        }
        FreeImage_GetPixelColor(loaded, 2, y, &black);
        EXPECT_EQ(0, black.rgbRed + black.rgbGreen + black.rgbBlue);
      }
      FreeImage_Unload(loaded);
    }
  }
}

// The scene's own pixels in another byte order, rows stored either way:
// the same picture as the library's own file of them.
TEST_F(BmpForms, BitFieldsKeepThePictureInEveryByteAndRowOrder) {
  FIBITMAP *scene = MakeSceneImage(37, 21, 32);
  FIBITMAP *expected = Load(LibraryBmp(scene));
  std::vector<std::vector<uint32_t>> rgba(21, std::vector<uint32_t>(37));
  for (unsigned y = 0; y < 21; y++)
    for (unsigned x = 0; x < 37; x++) {
      RGBQUAD c;
      FreeImage_GetPixelColor(scene, x, 20 - y, &c);  // rows from the top
      rgba[y][x] = (uint32_t)c.rgbRed << 24 | c.rgbGreen << 16 |
                   c.rgbBlue << 8 | c.rgbReserved;
    }
  const uint32_t kRgba[] = {0xFF000000, 0xFF0000, 0xFF00, 0xFF};
  for (bool top_down : {false, true}) {
    SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
    FIBITMAP *loaded = Load(BitFieldBmp(124, 32, kRgba, rgba, top_down));
    ExpectSamePicture(expected, loaded);
    FreeImage_Unload(loaded);
  }
  FreeImage_Unload(expected);
  FreeImage_Unload(scene);
}

// A file cut inside its last row: the pixels it still holds, black after.
TEST_F(BmpForms, BitFieldsCutShortShowWhatIsThere) {
  const uint32_t kXbgr[] = {0xFF000000, 0xFF0000, 0xFF00, 0};
  std::vector<std::vector<uint32_t>> pixels(3, std::vector<uint32_t>(5));
  for (unsigned y = 0; y < 3; y++)
    for (unsigned x = 0; x < 5; x++) pixels[y][x] = 0xFFFFFF00;  // white
  std::string bmp = BitFieldBmp(124, 32, kXbgr, pixels, true);
  FIBITMAP *loaded = Load(bmp.substr(0, bmp.size() - 5));
  ASSERT_NE(nullptr, loaded);
  for (unsigned x = 0; x < 5; x++) {
    RGBQUAD bottom, above;
    FreeImage_GetPixelColor(loaded, x, 0, &bottom);  // the last row stored
    FreeImage_GetPixelColor(loaded, x, 1, &above);
    EXPECT_EQ(x < 3 ? 255 : 0, bottom.rgbGreen) << x;
    EXPECT_EQ(255, above.rgbGreen) << x;
  }
  FreeImage_Unload(loaded);
}

TEST_F(BmpForms, FortyByteFilesLoadAsTheyWereWritten) {
  FIBITMAP *scene = MakeSceneImage(37, 21, 8);
  FIBITMAP *loaded = Load(LibraryBmp(scene));
  ExpectSamePicture(scene, loaded);
  FreeImage_Unload(loaded);
  FreeImage_Unload(scene);
}

TEST_F(BmpForms, WhatNoHeaderCanHelpStaysRefused) {
  FIBITMAP *scene = MakeSceneImage(37, 21, 24);
  std::string bmp = LibraryBmp(scene);
  std::string jpeg_inside = WithInfoHeader(bmp, 124);
  SetField(&jpeg_inside, 30, 4);
  EXPECT_EQ(nullptr, Load(jpeg_inside));
  std::string huffman = WithInfoHeader(bmp, 64);  // OS/2's number 3
  SetField(&huffman, 30, 3);
  EXPECT_EQ(nullptr, Load(huffman));
  std::string pixels_inside_header = WithInfoHeader(bmp, 124);
  SetField(&pixels_inside_header, 10, 100);
  EXPECT_EQ(nullptr, Load(pixels_inside_header));
  EXPECT_EQ(nullptr, Load(WithInfoHeader(bmp, 124).substr(0, 60)));
  EXPECT_EQ(nullptr, Load(""));
  FreeImage_Unload(scene);
}

// An RLE8 stream as ImageMagick and Pillow write one: runs of one value, an
// end-of-line after every row, the last row's included, then end-of-bitmap.
std::string Rle8Of(FIBITMAP *bitmap) {
  std::string stream;
  unsigned width = FreeImage_GetWidth(bitmap);
  for (unsigned y = 0; y < FreeImage_GetHeight(bitmap); y++) {
    const BYTE *line = FreeImage_GetScanLine(bitmap, y);  // bottom row first
    for (unsigned x = 0; x < width;) {
      unsigned run = 1;
      while (x + run < width && run < 255 && line[x + run] == line[x]) run++;
      stream += (char)run;
      stream += (char)line[x];
      x += run;
    }
    stream += std::string("\0\0", 2);
  }
  return stream + std::string("\0\1", 2);
}

std::string WithPixels(const std::string &bmp, const std::string &pixels,
                       uint32_t compression) {
  std::string file = bmp.substr(0, Field(bmp, 10)) + pixels;
  SetField(&file, 14 + 16, compression);
  SetField(&file, 14 + 20, (uint32_t)pixels.size());
  SetField(&file, 2, (uint32_t)file.size());
  return file;
}

TEST_F(BmpForms, Rle8EndingItsLastRowWithEndOfLineLoads) {
  FIBITMAP *scene = MakeSceneImage(37, 21, 8);
  std::string bmp = LibraryBmp(scene);
  FIBITMAP *expected = Load(bmp);
  std::string rle = Rle8Of(scene);
  for (uint32_t size : {40u, 124u}) {  // ImageMagick's BMP3 and its default
    SCOPED_TRACE(size);
    std::string header = size == 40 ? bmp : WithInfoHeader(bmp, size);
    FIBITMAP *loaded = Load(WithPixels(header, rle, 1));
    ExpectSamePicture(expected, loaded);
    FreeImage_Unload(loaded);
    // Without the end-of-bitmap: the rows are all there.
    loaded = Load(WithPixels(header, rle.substr(0, rle.size() - 2), 1));
    ExpectSamePicture(expected, loaded);
    FreeImage_Unload(loaded);
  }
  // A stream cut off before its last row stays refused.
  EXPECT_EQ(nullptr, Load(WithPixels(bmp, rle.substr(0, rle.size() / 2), 1)));
  FreeImage_Unload(expected);
  FreeImage_Unload(scene);
}

// The library cannot read back its own RLE8 files: they end the same way.
TEST_F(BmpForms, TheLibrarysOwnRle8FilesLoad) {
  FIBITMAP *scene = MakeSceneImage(37, 21, 8);
  FIBITMAP *expected = Load(LibraryBmp(scene));
  std::string path = folder_.Path("rle.bmp");
  ASSERT_TRUE(FreeImage_Save(FIF_BMP, scene, path.c_str(), BMP_SAVE_RLE));
  FIBITMAP *loaded = LoadedBmp(path);
  ExpectSamePicture(expected, loaded);
  FreeImage_Unload(loaded);
  FreeImage_Unload(expected);
  FreeImage_Unload(scene);
}

}  // namespace
