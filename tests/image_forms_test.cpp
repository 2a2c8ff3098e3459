// The forms the library mishandles, through the image layer's own calls: the
// results are held against what the library does right (its 24-bit turns
// and flips, its opaque resize) or against the colours put in.
#include <FreeImage.h>
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>

#include "app/imagefile.h"
#include "tests/temp_folder.h"
#include "tools/test_images.h"

namespace {

struct Unload {
  void operator()(FIBITMAP *bitmap) const { FreeImage_Unload(bitmap); }
};
typedef std::unique_ptr<FIBITMAP, Unload> Bitmap;

// Every pixel as 8-bit RGBA, rows from the bottom: what a viewer shows.
std::string Pixels32(FIBITMAP *bitmap) {
  Bitmap wide(FreeImage_ConvertTo32Bits(bitmap));
  if (!wide) return "<none>";
  std::string pixels;
  for (unsigned y = 0; y < FreeImage_GetHeight(wide.get()); y++)
    pixels.append((const char *)FreeImage_GetScanLine(wide.get(), y),
                  FreeImage_GetWidth(wide.get()) * 4);
  return pixels;
}

std::string PaletteOf(FIBITMAP *bitmap) {
  return std::string((const char *)FreeImage_GetPalette(bitmap),
                     FreeImage_GetColorsUsed(bitmap) * sizeof(RGBQUAD));
}

// A palette image with strong colours (1 bit: navy and yellow) and a
// diagonal pattern of every index, so a pixel moved by one shows.
Bitmap MakePaletteImage(int width, int height, int bpp) {
  Bitmap image(FreeImage_Allocate(width, height, bpp));
  int colours = 1 << bpp;
  RGBQUAD *palette = FreeImage_GetPalette(image.get());
  for (int i = 0; i < colours; i++)
    palette[i] = {(BYTE)(255 - 15 * i), (BYTE)(60 * i), (BYTE)(128 + 8 * i), 0};
  if (bpp == 1) {
    palette[0] = {128, 0, 0, 0};     // navy (blue, green, red)
    palette[1] = {0, 255, 255, 0};   // yellow
  }
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      BYTE index = (BYTE)((x + 2 * y + x * y / 3) % colours);
      FreeImage_SetPixelIndex(image.get(), x, y, &index);
    }
  return image;
}

// What a turn must show: the library turns 24-bit images right.
std::string TurnedAsColour(FIBITMAP *image, double angle) {
  Bitmap colour(FreeImage_ConvertTo24Bits(image));
  Bitmap turned(FreeImage_Rotate(colour.get(), angle, nullptr));
  return Pixels32(turned.get());
}

TEST(PaletteImages, QuarterTurnsKeepTheirDepthAndEveryColour) {
  for (int bpp : {1, 4})
    for (int width : {13, 14})
      for (double angle : {90.0, 180.0, -90.0, 450.0}) {
        SCOPED_TRACE(testing::Message() << bpp << " bits, " << width
                                        << " wide, " << angle << " degrees");
        Bitmap image = MakePaletteImage(width, 7, bpp);
        Bitmap turned(RotateImage(image.get(), angle));
        ASSERT_TRUE(turned);
        EXPECT_EQ((unsigned)bpp, FreeImage_GetBPP(turned.get()));
        EXPECT_EQ(PaletteOf(image.get()), PaletteOf(turned.get()));
        EXPECT_EQ(TurnedAsColour(image.get(), angle), Pixels32(turned.get()));
      }
}

// The library's 1-bit turn put a black and white palette in, and dropped
// the transparency with the colours.
TEST(PaletteImages, TurnedOneBitImageKeepsItsTransparency) {
  Bitmap image = MakePaletteImage(9, 5, 1);
  BYTE table[] = {0, 255};
  FreeImage_SetTransparencyTable(image.get(), table, 2);
  Bitmap turned(RotateImage(image.get(), 90));
  ASSERT_TRUE(turned);
  ASSERT_EQ(2, FreeImage_GetTransparencyCount(turned.get()));
  EXPECT_EQ(0, memcmp(table, FreeImage_GetTransparencyTable(turned.get()), 2));
}

// The library mirrored 4-bit rows a byte at a time: an odd-width image moved
// by a pixel and lost its last column.
TEST(PaletteImages, FourBitImagesFlipAtAnyWidth) {
  for (int width : {401, 12, 1}) {
    SCOPED_TRACE(width);
    Bitmap image = MakePaletteImage(width, 6, 4);
    Bitmap expected(FreeImage_ConvertTo24Bits(image.get()));
    FreeImage_FlipHorizontal(expected.get());
    std::string palette = PaletteOf(image.get());
    EXPECT_EQ(1, FlipImageHorizontal(image.get()));
    EXPECT_EQ(4u, FreeImage_GetBPP(image.get()));
    EXPECT_EQ(palette, PaletteOf(image.get()));
    EXPECT_EQ(Pixels32(expected.get()), Pixels32(image.get()));
  }
}

// Other angles blend neighbours: the library blended the indices of 8-bit
// palettes (noise of unrelated colours) and refused 1 and 4-bit ones.
TEST(PaletteImages, OtherAnglesBlendColoursNotIndices) {
  for (int bpp : {1, 4, 8}) {
    SCOPED_TRACE(bpp);
    Bitmap image = MakePaletteImage(30, 20, bpp);
    Bitmap turned(RotateImage(image.get(), 30));
    ASSERT_TRUE(turned);
    EXPECT_EQ(24u, FreeImage_GetBPP(turned.get()));
    EXPECT_EQ(TurnedAsColour(image.get(), 30), Pixels32(turned.get()));
  }
  Bitmap see_through = MakePaletteImage(30, 20, 4);
  BYTE table[] = {0, 128};
  FreeImage_SetTransparencyTable(see_through.get(), table, 2);
  Bitmap turned(RotateImage(see_through.get(), 30));
  ASSERT_TRUE(turned);
  EXPECT_EQ(32u, FreeImage_GetBPP(turned.get()));
}

// Where the library was right, it still does the whole work, unchanged.
TEST(PaletteImages, GreyAndColourImagesTurnAsTheLibraryTurnsThem) {
  Bitmap grey(MakeSceneImage(31, 17, 8));
  Bitmap palette = MakePaletteImage(31, 17, 8);
  Bitmap colour(MakeSceneImage(31, 17, 24));
  struct { FIBITMAP *image; double angle; } cases[] = {
      {grey.get(), 30}, {palette.get(), 90}, {colour.get(), 30}};
  for (const auto &c : cases) {
    Bitmap ours(RotateImage(c.image, c.angle));
    Bitmap library(FreeImage_Rotate(c.image, c.angle, nullptr));
    ASSERT_TRUE(ours);
    EXPECT_EQ(FreeImage_GetBPP(library.get()), FreeImage_GetBPP(ours.get()));
    EXPECT_EQ(PaletteOf(library.get()), PaletteOf(ours.get()));
    EXPECT_EQ(Pixels32(library.get()), Pixels32(ours.get()));
  }
}

class Files : public ::testing::Test {
 protected:
  // Saves through the library itself, as another program would write it.
  std::string Written(FIBITMAP *image, const char *name) {
    std::string path = folder_.Path(name);
    EXPECT_TRUE(FreeImage_Save(FreeImage_GetFIFFromFilename(name), image,
                               path.c_str(), 0));
    return path;
  }
  // Saves through the image layer and reads the file back with the library.
  Bitmap SavedAndRead(FIBITMAP *image, const char *name) {
    std::string path = folder_.Path(name);
    EXPECT_EQ(1, SaveImageByName(image, path.c_str(), 100));
    return Bitmap(FreeImage_Load(FreeImage_GetFIFFromFilename(name),
                                 path.c_str(), 0));
  }
  TempFolder folder_;
};

void SetAlpha(FIBITMAP *image, BYTE alpha) {
  for (unsigned y = 0; y < FreeImage_GetHeight(image); y++) {
    BYTE *pixel = FreeImage_GetScanLine(image, y);
    for (unsigned x = 0; x < FreeImage_GetWidth(image); x++, pixel += 4)
      pixel[FI_RGBA_ALPHA] = alpha;
  }
}

// Windows shows such a BMP opaque; the library read every pixel as fully
// transparent, so a PNG made of it showed nothing.
TEST_F(Files, BmpWhoseFourthBytesAreAllZeroLoadsOpaque) {
  Bitmap image(MakeSceneImage(21, 9, 32));
  SetAlpha(image.get(), 0);
  Bitmap loaded(LoadImageByName(Written(image.get(), "zero.bmp").c_str()));
  EXPECT_EQ(24u, FreeImage_GetBPP(loaded.get()));
  Bitmap colours(FreeImage_ConvertTo24Bits(image.get()));
  EXPECT_EQ(Pixels32(colours.get()), Pixels32(loaded.get()));

  // Real alpha, and a PNG's alpha of 0, mean what they say.
  Bitmap graded(MakeSceneImage(21, 9, 32));
  Bitmap kept(LoadImageByName(Written(graded.get(), "graded.bmp").c_str()));
  EXPECT_EQ(Pixels32(graded.get()), Pixels32(kept.get()));
  Bitmap clear(LoadImageByName(Written(image.get(), "clear.png").c_str()));
  EXPECT_EQ(Pixels32(image.get()), Pixels32(clear.get()));
}

}  // namespace
