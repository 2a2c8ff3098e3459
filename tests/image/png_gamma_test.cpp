#include "image/load/png_gamma.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "image/containers/header_fields.h"
#include "image/imagefile.h"
#include "tests/image/loading.h"
#include "tests/image/png_bytes.h"
#include "tests/temp_folder.h"

namespace {

// Colours spread over the range: dark ones move most under a gamma change.
const RGBQUAD kColours[] = {{200, 60, 10, 0},  {128, 128, 128, 0},
                            {77, 5, 250, 0},   {30, 255, 0, 0},
                            {0, 0, 0, 0},      {255, 255, 255, 0},
                            {3, 40, 90, 0}};
const int kCount = sizeof kColours / sizeof kColours[0];

// Puts chunks right behind IHDR, where gAMA and sRGB belong.
void InsertAfterHeader(const std::string &path, const std::string &chunks) {
  std::string file = ReadWholeFile(path);
  WriteWholeFile(path, file.substr(0, kPngFieldsEnd) + chunks +
                           file.substr(kPngFieldsEnd));
}

// The same colours as a palette image of the given depth and as truecolour.
void WriteTwins(const std::string &palette_path, const std::string &rgb_path,
                int bpp) {
  int count = bpp == 1 ? 2 : kCount;
  FIBITMAP *palette = FreeImage_Allocate(count, 1, bpp);
  FIBITMAP *rgb = FreeImage_Allocate(count, 1, 24);
  RGBQUAD *colours = FreeImage_GetPalette(palette);
  for (int i = 0; i < count; i++) {
    colours[i] = kColours[i];
    BYTE index = (BYTE)i;
    FreeImage_SetPixelIndex(palette, i, 0, &index);
    RGBQUAD colour = kColours[i];
    FreeImage_SetPixelColor(rgb, i, 0, &colour);
  }
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, palette, palette_path.c_str(), 0));
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, rgb, rgb_path.c_str(), 0));
  FreeImage_Unload(palette);
  FreeImage_Unload(rgb);
}

bool Same(const RGBQUAD &a, const RGBQUAD &b) {
  return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen &&
         a.rgbBlue == b.rgbBlue;
}

struct Twins {
  FIBITMAP *palette, *rgb;
};

class PngGamma : public ::testing::TestWithParam<int> {
 protected:
  // Writes the twins at the test's depth with chunks after their headers
  // and loads both as the program does.
  Twins Load(const std::string &chunks) {
    std::string palette = folder_.Path("palette.png");
    std::string rgb = folder_.Path("rgb.png");
    WriteTwins(palette, rgb, GetParam());
    InsertAfterHeader(palette, chunks);
    InsertAfterHeader(rgb, chunks);
    Twins twins = {Loaded(palette),
                   Loaded(rgb)};
    return twins;
  }

  // Each palette entry shows as its truecolour twin does; returns how many
  // entries differ from the stored colours.
  int ExpectAlike(Twins twins) {
    EXPECT_EQ(FIC_PALETTE, FreeImage_GetColorType(twins.palette));
    int moved = 0;
    int count = (int)FreeImage_GetWidth(twins.palette);
    for (int i = 0; i < count; i++) {
      BYTE index = 0;
      RGBQUAD shown;
      FreeImage_GetPixelIndex(twins.palette, i, 0, &index);
      FreeImage_GetPixelColor(twins.rgb, i, 0, &shown);
      RGBQUAD entry = FreeImage_GetPalette(twins.palette)[index];
      EXPECT_TRUE(Same(shown, entry))
          << "entry " << i << ": palette " << (int)entry.rgbRed << ","
          << (int)entry.rgbGreen << "," << (int)entry.rgbBlue
          << " truecolour " << (int)shown.rgbRed << "," << (int)shown.rgbGreen
          << "," << (int)shown.rgbBlue;
      moved += !Same(entry, kColours[i]);
    }
    FreeImage_Unload(twins.palette);
    FreeImage_Unload(twins.rgb);
    return moved;
  }

  TempFolder folder_;
};

TEST_P(PngGamma, LinearFileShowsAlikeInPaletteAndTruecolour) {
  EXPECT_GT(ExpectAlike(Load(Chunk("gAMA", Big32(100000)))), 0);
}

TEST_P(PngGamma, DarkeningGammaShowsAlikeToo) {
  EXPECT_GT(ExpectAlike(Load(Chunk("gAMA", Big32(30000)))), 0);
}

TEST_P(PngGamma, DisplayGammaLeavesColoursAsStored) {
  EXPECT_EQ(0, ExpectAlike(Load(Chunk("gAMA", Big32(45455)))));
}

TEST_P(PngGamma, SrgbChunkOverridesTheGamma) {
  EXPECT_EQ(0, ExpectAlike(Load(Chunk("gAMA", Big32(100000)) +
                                Chunk("sRGB", std::string(1, '\0')))));
}

TEST_P(PngGamma, GammaWithBadCrcIsIgnoredAsLibpngIgnoresIt) {
  std::string chunk = Chunk("gAMA", Big32(100000));
  chunk[chunk.size() - 1] ^= 1;
  EXPECT_EQ(0, ExpectAlike(Load(chunk)));
}

INSTANTIATE_TEST_SUITE_P(Depths, PngGamma, ::testing::Values(1, 4, 8));

TEST(PngGammaCorrection, IsNotAppliedTwice) {
  // A palette already corrected (by the first call here, or by a libpng that
  // still shares its palette) differs from the stored one and stays as it is.
  TempFolder folder;
  std::string palette = folder.Path("palette.png");
  WriteTwins(palette, folder.Path("rgb.png"), 8);
  InsertAfterHeader(palette, Chunk("gAMA", Big32(100000)));
  FIBITMAP *bitmap = Loaded(palette);
  RGBQUAD once[kCount];
  for (int i = 0; i < kCount; i++) once[i] = FreeImage_GetPalette(bitmap)[i];
  std::string bytes = ReadWholeFile(palette);  // the chunks point into it
  PngChunks png = HeadersOf(bytes, kFormatPng).png;
  CorrectPngPaletteGamma(bitmap, &png);
  for (int i = 0; i < kCount; i++)
    EXPECT_TRUE(Same(once[i], FreeImage_GetPalette(bitmap)[i])) << i;
  FreeImage_Unload(bitmap);
}

TEST(PngGammaTable, FollowsLibpngsThresholdAndRounding) {
  unsigned char table[256];
  EXPECT_EQ(0, PngGammaTable(45455, table));  // 1/2.2 on a 2.2 display
  EXPECT_EQ(0, PngGammaTable(47500, table));  // within libpng's 5%
  ASSERT_EQ(1, PngGammaTable(100000, table));
  EXPECT_EQ(0, table[0]);
  EXPECT_EQ(186, table[128]);  // 255 * (128/255)^(1/2.2), rounded
  EXPECT_EQ(255, table[255]);
}

// Each pixel as a viewer shows it: grey (the red of it) and alpha.
std::vector<std::pair<int, int>> Shown(FIBITMAP *bitmap) {
  std::vector<std::pair<int, int>> shown;
  FIBITMAP *wide = FreeImage_ConvertTo32Bits(bitmap);
  for (unsigned x = 0; x < FreeImage_GetWidth(wide); x++) {
    RGBQUAD c;
    FreeImage_GetPixelColor(wide, x, 0, &c);
    shown.push_back({c.rgbRed, c.rgbReserved});
  }
  FreeImage_Unload(wide);
  return shown;
}

// Grey of 1, 2 and 4 bits shows as the same samples widened to 8 bits,
// which libpng corrects right; a tRNS key hides exactly its own samples.
TEST(PngGreyGamma, EveryDepthShowsAsItsEightBitTwin) {
  struct Case {
    int depth, key;  // key -1: no tRNS chunk
  } cases[] = {{1, -1}, {1, 1}, {2, -1}, {2, 2},  {4, -1},
               {4, 15}, {4, 6}, {8, -1}, {8, 200}};
  TempFolder folder;
  std::string path = folder.Path("grey.png");
  for (uint32_t gamma : {0u, 100000u, 30000u}) {  // none, linear, darkening
    std::string gama = gamma != 0 ? Chunk("gAMA", Big32(gamma)) : "";
    std::vector<int> widened(256);
    for (int v = 0; v < 256; v++) widened[v] = v;
    WriteWholeFile(path, GreyPngOf(8, widened, 2, gama));
    FIBITMAP *twin = Loaded(path);
    ASSERT_NE(nullptr, twin);
    std::vector<std::pair<int, int>> eight = Shown(twin);
    FreeImage_Unload(twin);
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message() << c.depth << "-bit, key " << c.key
                                      << ", gamma " << gamma);
      int top = (1 << c.depth) - 1;
      std::vector<int> samples(top + 1);
      for (int v = 0; v <= top; v++) samples[v] = v;
      std::string trns =
          c.key >= 0 ? Chunk("tRNS", std::string(1, '\0') + (char)c.key) : "";
      WriteWholeFile(path, GreyPngOf(c.depth, samples, 2, gama + trns));
      FIBITMAP *loaded = Loaded(path);
      ASSERT_NE(nullptr, loaded);
      std::vector<std::pair<int, int>> shown = Shown(loaded);
      for (int v = 0; v <= top; v++) {
        SCOPED_TRACE(testing::Message() << "sample " << v);
        EXPECT_EQ(eight[v * (255 / top)].first, shown[v].first);
        EXPECT_EQ(v == c.key ? 0 : 255, shown[v].second);
      }
      FreeImage_Unload(loaded);
    }
  }
}

// A second call finds the grey palette corrected already and the key in
// its place, and changes nothing.
TEST(PngGreyGamma, IsNotAppliedTwice) {
  TempFolder folder;
  std::string path = folder.Path("grey.png");
  std::string bytes = GreyPngOf(
      4, {0, 5, 6, 15}, 2,
      Chunk("gAMA", Big32(100000)) + Chunk("tRNS", std::string("\0\x06", 2)));
  WriteWholeFile(path, bytes);
  FIBITMAP *bitmap = Loaded(path);
  ASSERT_NE(nullptr, bitmap);
  std::vector<std::pair<int, int>> once = Shown(bitmap);
  PngChunks png = HeadersOf(bytes, kFormatPng).png;
  EXPECT_EQ(1, CorrectPngPaletteGamma(bitmap, &png));
  EXPECT_EQ(once, Shown(bitmap));
  FreeImage_Unload(bitmap);
}

}  // namespace
