// The forms the library mishandles, through the image layer's own calls: the
// results are held against what the library does right (its 24-bit turns
// and flips, its opaque resize) or against the colours put in.
#include <FreeImage.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>

#include "image/imagefile.h"
#include "tests/image/loading.h"
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

// Every pixel of a quarter turn counter-clockwise, in the row order of
// Pixels32: column x of the picture becomes row x, its bottom row the right
// column.
std::string QuarterTurned(FIBITMAP *image) {
  std::string pixels = Pixels32(image);
  unsigned width = FreeImage_GetWidth(image);
  unsigned height = FreeImage_GetHeight(image);
  std::string turned(pixels.size(), '\0');
  for (unsigned y = 0; y < width; y++)
    for (unsigned x = 0; x < height; x++)
      turned.replace((y * height + x) * 4, 4,
                     pixels.substr(((height - 1 - x) * width + y) * 4, 4));
  return turned;
}

// Grey ramps and colour turn at their own depth: a quarter turn moves
// every pixel where it belongs, other angles keep the centre's colour.
TEST(PaletteImages, GreyAndColourImagesTurnAtTheirOwnDepth) {
  Bitmap grey(MakeSceneImage(31, 17, 8));
  Bitmap palette = MakePaletteImage(31, 17, 8);
  Bitmap colour(MakeSceneImage(31, 17, 24));
  for (FIBITMAP *image : {grey.get(), palette.get(), colour.get()}) {
    Bitmap quarter(RotateImage(image, 90));
    ASSERT_TRUE(quarter);
    EXPECT_EQ(FreeImage_GetBPP(image), FreeImage_GetBPP(quarter.get()));
    EXPECT_EQ(QuarterTurned(image), Pixels32(quarter.get()));
  }
  for (FIBITMAP *image : {grey.get(), colour.get()}) {
    Bitmap tilted(RotateImage(image, 30));
    ASSERT_TRUE(tilted);
    EXPECT_EQ(FreeImage_GetBPP(image), FreeImage_GetBPP(tilted.get()));
    RGBQUAD before, after;
    FreeImage_GetPixelColor(image, 15, 8, &before);
    FreeImage_GetPixelColor(tilted.get(), FreeImage_GetWidth(tilted.get()) / 2,
                            FreeImage_GetHeight(tilted.get()) / 2, &after);
    if (FreeImage_GetBPP(image) == 8) {
      BYTE index;
      FreeImage_GetPixelIndex(image, 15, 8, &index);
      before.rgbGreen = index;
      FreeImage_GetPixelIndex(tilted.get(), FreeImage_GetWidth(tilted.get()) / 2,
                              FreeImage_GetHeight(tilted.get()) / 2, &index);
      after.rgbGreen = index;
    }
    EXPECT_NEAR(before.rgbGreen, after.rgbGreen, 40);
  }
}

class ImageFiles : public ::testing::Test {
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
TEST_F(ImageFiles, BmpWhoseFourthBytesAreAllZeroLoadsOpaque) {
  Bitmap image(MakeSceneImage(21, 9, 32));
  SetAlpha(image.get(), 0);
  Bitmap loaded(Loaded(Written(image.get(), "zero.bmp")));
  EXPECT_EQ(24u, FreeImage_GetBPP(loaded.get()));
  Bitmap colours(FreeImage_ConvertTo24Bits(image.get()));
  EXPECT_EQ(Pixels32(colours.get()), Pixels32(loaded.get()));

  // Real alpha, and a PNG's alpha of 0, mean what they say.
  Bitmap graded(MakeSceneImage(21, 9, 32));
  Bitmap kept(Loaded(Written(graded.get(), "graded.bmp")));
  EXPECT_EQ(Pixels32(graded.get()), Pixels32(kept.get()));
  Bitmap clear(Loaded(Written(image.get(), "clear.png")));
  EXPECT_EQ(Pixels32(image.get()), Pixels32(clear.get()));
}

// A 16-bit image whose channels are 256 v + 255 - v, so that the top byte
// (v) is what 8 bits a channel must keep.
Bitmap MakeSixteenBitImage(FREE_IMAGE_TYPE type) {
  Bitmap image(FreeImage_AllocateT(type, 17, 5));
  for (unsigned y = 0; y < 5; y++) {
    WORD *sample = (WORD *)FreeImage_GetScanLine(image.get(), y);
    unsigned per_pixel = FreeImage_GetBPP(image.get()) / 16;
    for (unsigned i = 0; i < 17 * per_pixel; i++) {
      unsigned v = (i * 37 + y * 11) % 256;
      sample[i] = (WORD)(v * 256 + 255 - v);
    }
  }
  return image;
}

std::string TopBytes(FIBITMAP *image) {
  std::string bytes;
  for (unsigned y = 0; y < FreeImage_GetHeight(image); y++) {
    const WORD *sample = (const WORD *)FreeImage_GetScanLine(image, y);
    for (unsigned i = 0; i < FreeImage_GetLine(image) / 2; i++)
      bytes += (char)(sample[i] >> 8);
  }
  return bytes;
}

std::string Bytes(FIBITMAP *image) {
  std::string bytes;
  for (unsigned y = 0; y < FreeImage_GetHeight(image); y++)
    bytes.append((const char *)FreeImage_GetScanLine(image, y),
                 FreeImage_GetLine(image));
  return bytes;
}

// BMP got 48 and 64-bit files that no reader opens, and grey as 565 noise;
// JPEG refused them all.
TEST_F(ImageFiles, SixteenBitChannelsSaveAsEightWhereTheFormatHoldsNoMore) {
  struct {
    FREE_IMAGE_TYPE type;
    unsigned bmp_bpp, jpeg_bpp;
  } cases[] = {{FIT_UINT16, 8, 8}, {FIT_RGB16, 24, 24}, {FIT_RGBA16, 32, 24}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.type);
    Bitmap image = MakeSixteenBitImage(c.type);
    Bitmap bmp = SavedAndRead(image.get(), "wide.bmp");
    ASSERT_TRUE(bmp);
    EXPECT_EQ(c.bmp_bpp, FreeImage_GetBPP(bmp.get()));
    Bitmap png = SavedAndRead(image.get(), "wide.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(c.type, FreeImage_GetImageType(png.get()));
    EXPECT_EQ(Bytes(image.get()), Bytes(png.get()));
    Bitmap jpeg = SavedAndRead(image.get(), "wide.jpg");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(c.jpeg_bpp, FreeImage_GetBPP(jpeg.get()));
  }
  Bitmap grey = MakeSixteenBitImage(FIT_UINT16);
  Bitmap grey_bmp = SavedAndRead(grey.get(), "g.bmp");
  EXPECT_EQ(TopBytes(grey.get()), Bytes(grey_bmp.get()));
  Bitmap colour = MakeSixteenBitImage(FIT_RGB16);
  Bitmap bmp = SavedAndRead(colour.get(), "c.bmp");
  Bitmap expected(FreeImage_ConvertTo24Bits(colour.get()));
  EXPECT_EQ(Pixels32(expected.get()), Pixels32(bmp.get()));
}

// The library's PNG writer read past the end of each row of these (a heap
// overflow under AddressSanitizer) and wrote scrambled colours.
TEST_F(ImageFiles, FiveSixFiveAndFiveFiveFiveBmpsSaveInEveryFormat) {
  Bitmap scene(MakeSceneImage(33, 12, 24));
  Bitmap packed[] = {Bitmap(FreeImage_ConvertTo16Bits565(scene.get())),
                     Bitmap(FreeImage_ConvertTo16Bits555(scene.get()))};
  for (const Bitmap &image : packed) {
    Bitmap colours(FreeImage_ConvertTo24Bits(image.get()));
    Bitmap loaded(Loaded(Written(image.get(), "packed.bmp")));
    EXPECT_EQ(24u, FreeImage_GetBPP(loaded.get()));
    // Widened to the nearest 8-bit value, the library's own conversion to
    // the one below at most.
    std::string want = Pixels32(colours.get()), got = Pixels32(loaded.get());
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < want.size(); i++)
      ASSERT_LE(abs((unsigned char)want[i] - (unsigned char)got[i]), 1) << i;
    for (const char *name : {"out.png", "out.bmp"}) {
      Bitmap back = SavedAndRead(loaded.get(), name);
      EXPECT_EQ(got, Pixels32(back.get())) << name;
    }
    EXPECT_TRUE(SavedAndRead(loaded.get(), "out.jpg"));
  }
}

// "Couldn't save output file" and nothing else, for every image with alpha
// (most screenshots), a 1 or 4-bit palette, or 16 bits a channel.
TEST_F(ImageFiles, EveryFormALoadGivesSavesAsJpeg) {
  Bitmap alpha(MakeSceneImage(40, 30, 32));
  Bitmap opaque(MakeSceneImage(40, 30, 32));
  SetAlpha(opaque.get(), 255);
  Bitmap see_through = MakePaletteImage(40, 30, 8);
  BYTE table[] = {0, 100, 255};
  FreeImage_SetTransparencyTable(see_through.get(), table, 3);
  Bitmap one = MakePaletteImage(40, 30, 1);
  Bitmap four = MakePaletteImage(40, 30, 4);
  Bitmap four_grey(FreeImage_ConvertTo4Bits(opaque.get()));
  Bitmap grey16 = MakeSixteenBitImage(FIT_UINT16);
  Bitmap rgba16 = MakeSixteenBitImage(FIT_RGBA16);
  struct { FIBITMAP *image; unsigned bpp; } cases[] = {
      {alpha.get(), 24}, {opaque.get(), 24}, {see_through.get(), 24},
      {one.get(), 24},   {four.get(), 24},   {four_grey.get(), 8},
      {grey16.get(), 8}, {rgba16.get(), 24}};
  for (const auto &c : cases) {
    Bitmap back = SavedAndRead(c.image, "out.jpg");
    ASSERT_TRUE(back);
    EXPECT_EQ(c.bpp, FreeImage_GetBPP(back.get()));
    EXPECT_EQ(FreeImage_GetWidth(c.image), FreeImage_GetWidth(back.get()));
  }
}

TEST_F(ImageFiles, JpegShowsTransparencyAsWhite) {
  Bitmap image(FreeImage_Allocate(32, 16, 32));  // all black, all clear
  RGBQUAD red = {0, 0, 255, 255};
  for (unsigned x = 16; x < 32; x++)
    for (unsigned y = 0; y < 16; y++)
      FreeImage_SetPixelColor(image.get(), x, y, &red);
  Bitmap back = SavedAndRead(image.get(), "flat.jpg");
  RGBQUAD clear, opaque;
  FreeImage_GetPixelColor(back.get(), 4, 8, &clear);
  FreeImage_GetPixelColor(back.get(), 28, 8, &opaque);
  EXPECT_GE(std::min({clear.rgbRed, clear.rgbGreen, clear.rgbBlue}), 250);
  EXPECT_GE(opaque.rgbRed, 250);
  EXPECT_LE(std::max(opaque.rgbGreen, opaque.rgbBlue), 5);
}

// Red where it is opaque, black where it is clear: no pixel that shows may
// be any darker than red.
void ExpectNoDarkFringe(FIBITMAP *image) {
  ASSERT_EQ(32u, FreeImage_GetBPP(image));
  int showing = 0;
  for (unsigned y = 0; y < FreeImage_GetHeight(image); y++)
    for (unsigned x = 0; x < FreeImage_GetWidth(image); x++) {
      RGBQUAD c;
      FreeImage_GetPixelColor(image, x, y, &c);
      if (c.rgbReserved == 0) continue;
      showing++;
      EXPECT_GE(c.rgbRed, 250) << x << "," << y << " alpha "
                               << (int)c.rgbReserved;
    }
  EXPECT_GT(showing, 0);
}

TEST(Resizing, SoftEdgesGetNoDarkFringe) {
  Bitmap image(FreeImage_Allocate(40, 40, 32));  // all black, all clear
  for (unsigned x = 0; x < 40; x++)
    for (unsigned y = 0; y < 40; y++) {
      BYTE alpha = (BYTE)(x < 20 ? 255 : x < 24 ? 60 * (24 - x) : 0);
      RGBQUAD c = {0, 0, 255, alpha};
      if (alpha != 0) FreeImage_SetPixelColor(image.get(), x, y, &c);
    }
  Bitmap small(ResizeImage(image.get(), 15, 0, kFilterBSpline));
  ExpectNoDarkFringe(small.get());

  Bitmap palette(FreeImage_Allocate(40, 40, 8));  // index 0 everywhere
  FreeImage_GetPalette(palette.get())[1] = {0, 0, 255, 0};
  BYTE table[] = {0, 255};
  FreeImage_SetTransparencyTable(palette.get(), table, 2);
  BYTE red = 1;
  for (unsigned x = 0; x < 20; x++)
    for (unsigned y = 0; y < 40; y++)
      FreeImage_SetPixelIndex(palette.get(), x, y, &red);
  Bitmap smaller(ResizeImage(palette.get(), 0, 13, kFilterBSpline));
  ExpectNoDarkFringe(smaller.get());
}

// An opaque picture keeps its depth, stays opaque and keeps its colours on
// the whole: a flat one comes out flat.
TEST(Resizing, OpaqueImagesKeepTheirDepthAndColours) {
  for (int bpp : {8, 24, 32}) {
    Bitmap flat(FreeImage_Allocate(40, 30, bpp));
    RGBQUAD colour = {40, 120, 200, 255};
    if (bpp == 8) {
      for (int i = 0; i < 256; i++)
        FreeImage_GetPalette(flat.get())[i] = {(BYTE)i, (BYTE)i, (BYTE)i, 0};
      colour = {120, 120, 120, 0};
    }
    for (unsigned y = 0; y < 30; y++)
      for (unsigned x = 0; x < 40; x++) {
        BYTE index = 120;
        if (bpp == 8) FreeImage_SetPixelIndex(flat.get(), x, y, &index);
        else FreeImage_SetPixelColor(flat.get(), x, y, &colour);
      }
    Bitmap small(ResizeImage(flat.get(), 17, 0, kFilterBSpline));
    ASSERT_TRUE(small);
    EXPECT_EQ(17u, FreeImage_GetWidth(small.get()));
    EXPECT_EQ(12u, FreeImage_GetHeight(small.get()));
    EXPECT_EQ((unsigned)bpp, FreeImage_GetBPP(small.get()));
    std::string expected;
    for (int i = 0; i < 17 * 12; i++)
      expected += std::string{(char)colour.rgbBlue, (char)colour.rgbGreen,
                              (char)colour.rgbRed, (char)255};
    EXPECT_EQ(expected, Pixels32(small.get())) << bpp << " bits";
  }
}

}  // namespace
