// BMP files as the common tools write them: the same pictures as the
// library's own 40-byte files, behind the info headers that ImageMagick,
// GIMP, libvips and OS/2 write.
#include "image/bmp_load.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

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

TEST_F(BmpForms, BitFieldMasksInTheHeaderAreHonouredOrRefused) {
  FIBITMAP *scene = MakeSceneImage(37, 21, 24);
  FIBITMAP *rgb565 = FreeImage_ConvertTo16Bits565(scene);
  FIBITMAP *rgba = MakeSceneImage(37, 21, 32);
  const uint32_t k565[] = {0xF800, 0x07E0, 0x001F, 0};
  const uint32_t kBgra[] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  const uint32_t kRgba[] = {0xFF000000, 0xFF0000, 0xFF00, 0xFF};
  for (uint32_t size : {56u, 108u, 124u}) {
    SCOPED_TRACE(size);
    std::string bmp565 = LibraryBmp(rgb565);
    FIBITMAP *expected = Load(bmp565);
    FIBITMAP *loaded = Load(WithInfoHeader(bmp565, size, k565));
    ExpectSamePicture(expected, loaded);
    ASSERT_NE(nullptr, loaded);
    EXPECT_EQ(0xF800u, FreeImage_GetRedMask(loaded));  // not taken for 555
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

    // Another byte order: the library would read it as its own, with the
    // colours wrong.
    std::string other_order = WithInfoHeader(bmp32, size, kRgba);
    SetField(&other_order, 30, 3);
    EXPECT_EQ(nullptr, Load(other_order));
  }
  FreeImage_Unload(rgba);
  FreeImage_Unload(rgb565);
  FreeImage_Unload(scene);
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
