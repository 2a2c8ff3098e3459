#include "image/imagefile.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/icc_profiles.h"
#include "tests/temp_folder.h"
#include "tests/texts.h"
#include "tools/test_images.h"

namespace {

TEST(ImageFormatOf, ReadsTheEndOfTheWholePath) {
  EXPECT_EQ(kFormatJpeg, ImageFormatOf("photo.JPG"));
  EXPECT_EQ(kFormatJpeg, ImageFormatOf("photo.JPEG"));
  EXPECT_EQ(kFormatJpeg, ImageFormatOf(".jpg"));
  EXPECT_EQ(kFormatJpeg, ImageFormatOf("x.jpeg"));
  EXPECT_EQ(kFormatPng, ImageFormatOf("photo.Png"));
  EXPECT_EQ(kFormatBmp, ImageFormatOf("photo.bmp"));
  EXPECT_EQ(kFormatBmp, ImageFormatOf(".bmp"));
  EXPECT_EQ(kFormatJpeg, ImageFormatOf("my.dir/photo.jpg"));
  EXPECT_EQ(kFormatNone, ImageFormatOf("a.b"));
  EXPECT_EQ(kFormatNone, ImageFormatOf("jpg"));
  EXPECT_EQ(kFormatNone, ImageFormatOf(""));
  EXPECT_EQ(kFormatNone, ImageFormatOf("photo.jpg.bak"));
  EXPECT_EQ(kFormatNone, ImageFormatOf("photo.gif"));
  EXPECT_EQ(kFormatNone, ImageFormatOf("photo.jpg/"));
}

struct Size {
  int64_t w, h;
  bool operator==(const Size &o) const { return w == o.w && h == o.h; }
};

Size Target(int64_t W, int64_t H, int width, int height) {
  Size s;
  ResizeTarget(W, H, width, height, &s.w, &s.h);
  return s;
}

TEST(ResizeTarget, DerivesMissingDimensionInProportion) {
  EXPECT_EQ((Size{800, 600}), Target(4000, 3000, 800, 0));
  EXPECT_EQ((Size{800, 600}), Target(4000, 3000, 0, 600));
  EXPECT_EQ((Size{170, 128}), Target(4000, 3000, 0, 0));
  EXPECT_EQ((Size{170, 128}), Target(4000, 3000, -5, -1));
  EXPECT_EQ((Size{640, 480}), Target(4000, 3000, 640, 480));
  EXPECT_EQ((Size{640, 480}), Target(4000, 3000, 640, 0));
  EXPECT_EQ((Size{640, 480}), Target(4000, 3000, 0, 480));
  EXPECT_EQ((Size{641, 3}), Target(4000, 3000, 641, 3));  // aspect not kept
  // A side in proportion is at least a pixel; a side given stays as given.
  EXPECT_EQ((Size{1, 128}), Target(10, 2000, 0, 0));
  EXPECT_EQ((Size{1, 100}), Target(3, 1000, 0, 100));
  EXPECT_EQ((Size{100, 1}), Target(1000, 3, 100, 0));
}

TEST(ResizeTarget, WideProductsDoNotOverflow) {
  Size s = Target(60000, 50000, 2000000000, 0);
  EXPECT_EQ(2000000000, s.w);
  EXPECT_EQ(int64_t{2000000000} * 50000 / 60000, s.h);
  EXPECT_EQ((Size{0, 0}), Target(0, 0, 5, 0));
}

TEST(SaveFlagsFor, NeverAsksBmpForRle) {
  EXPECT_EQ(100, SaveFlagsFor(kFormatBmp, 100));
  EXPECT_EQ(74, SaveFlagsFor(kFormatBmp, 75));
  EXPECT_EQ(75, SaveFlagsFor(kFormatJpeg, 75));
  EXPECT_EQ(75, SaveFlagsFor(kFormatPng, 75));
}

class ImageOperations : public ::testing::Test {
 protected:
  void SetUp() override { image_ = MakeSceneImage(200, 100, 24); }
  void TearDown() override { FreeImage_Unload(image_); }
  FIBITMAP *image_;
};

TEST_F(ImageOperations, CropTakesTheRectangleAtXY) {
  FIBITMAP *part = CropImage(image_, 10, 20, 100, 50);
  ASSERT_NE(nullptr, part);
  EXPECT_EQ(100u, FreeImage_GetWidth(part));
  EXPECT_EQ(50u, FreeImage_GetHeight(part));
  RGBQUAD a, b;
  FreeImage_GetPixelColor(part, 0, 49, &a);  // rows count from the bottom
  FreeImage_GetPixelColor(image_, 10, 100 - 1 - 20, &b);
  EXPECT_EQ(b.rgbRed, a.rgbRed);
  EXPECT_EQ(b.rgbBlue, a.rgbBlue);
  FreeImage_Unload(part);
}

TEST_F(ImageOperations, CropOutsideOrOverflowingGivesNothing) {
  EXPECT_EQ(nullptr, CropImage(image_, 150, 0, 100, 10));
  EXPECT_EQ(nullptr, CropImage(image_, -1, 0, 10, 10));
  EXPECT_EQ(nullptr, CropImage(image_, 2147483600, 0, 100, 10));
}

TEST_F(ImageOperations, ResizeFollowsTheRules) {
  FIBITMAP *small = ResizeImage(image_, 50, 0, kFilterBSpline);
  ASSERT_NE(nullptr, small);
  EXPECT_EQ(50u, FreeImage_GetWidth(small));
  EXPECT_EQ(25u, FreeImage_GetHeight(small));
  FreeImage_Unload(small);
  FIBITMAP *tall = MakeSceneImage(10, 2000, 24);
  FIBITMAP *thin = ResizeImage(tall, 0, 0, kFilterBSpline);
  ASSERT_NE(nullptr, thin);  // the derived width is at least a pixel
  EXPECT_EQ(1u, FreeImage_GetWidth(thin));
  FreeImage_Unload(thin);
  FreeImage_Unload(tall);
}

TEST_F(ImageOperations, RotateByQuarterTurnSwapsSides) {
  FIBITMAP *turned = RotateImage(image_, 90);
  ASSERT_NE(nullptr, turned);
  EXPECT_EQ(100u, FreeImage_GetWidth(turned));
  EXPECT_EQ(200u, FreeImage_GetHeight(turned));
  FreeImage_Unload(turned);
}

bool SamePixels(FIBITMAP *a, FIBITMAP *b) {
  if (FreeImage_GetWidth(a) != FreeImage_GetWidth(b) ||
      FreeImage_GetHeight(a) != FreeImage_GetHeight(b) ||
      FreeImage_GetBPP(a) != FreeImage_GetBPP(b))
    return false;
  for (unsigned y = 0; y < FreeImage_GetHeight(a); y++)
    if (memcmp(FreeImage_GetScanLine(a, y), FreeImage_GetScanLine(b, y),
               FreeImage_GetLine(a)) != 0)
      return false;
  return true;
}

// The library takes huge angles down a turn at a time and never finishes.
TEST_F(ImageOperations, HugeAnglesTurnByTheirRemainder) {
  FIBITMAP *expected = FreeImage_Rotate(image_, 90, nullptr);
  for (double angle : {450.0, 1e300, -270.0, 90.0 + 360 * 1e6,
                       90.0000000001}) {
    FIBITMAP *turned = RotateImage(image_, angle);
    ASSERT_NE(nullptr, turned) << angle;
    if (angle != 1e300) {  // 1e300 is a whole number of turns, not 90
      EXPECT_TRUE(SamePixels(expected, turned)) << angle;
    }
    FreeImage_Unload(turned);
  }
  FreeImage_Unload(expected);
  EXPECT_EQ(nullptr, RotateImage(image_, NAN));
  EXPECT_EQ(nullptr, RotateImage(image_, -INFINITY));
}

class Saving : public ImageOperations {
 protected:
  TempFolder folder_;
};

TEST_F(Saving, RefusedSaveLeavesExistingFileUntouched) {
  std::string path = folder_.Path("keep.jpg");
  ASSERT_TRUE(WriteSceneImage(path.c_str(), 40, 30, 24));
  std::string before = ReadWholeFile(path);
  // No format of the three takes floating-point pixels.
  FIBITMAP *floats = FreeImage_AllocateT(FIT_RGBF, 40, 30);
  EXPECT_EQ(0, SaveImageByName(floats, path.c_str(), 100));
  FreeImage_Unload(floats);
  EXPECT_EQ(before, ReadWholeFile(path));
  EXPECT_EQ((Texts{"keep.jpg"}), folder_.Names());
}

TEST_F(Saving, ReplacedFileKeepsPermissionsNewFileGetsUmask) {
  std::string path = folder_.Path("out.png");
  ASSERT_TRUE(WriteSceneImage(path.c_str(), 40, 30, 24));
  chmod(path.c_str(), 0640);
  ASSERT_EQ(1, SaveImageByName(image_, path.c_str(), 0));
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  mode_t old = umask(022);
  std::string fresh = folder_.Path("fresh.bmp");
  ASSERT_EQ(1, SaveImageByName(image_, fresh.c_str(), 100));
  umask(old);
  ASSERT_EQ(0, stat(fresh.c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 07777);
  EXPECT_EQ((Texts{"fresh.bmp", "out.png"}), folder_.Names());
}

TEST_F(Saving, SavingThroughALinkUpdatesItsTarget) {
  std::string real = folder_.Path("real.png");
  std::string link = folder_.Path("link.png");
  ASSERT_TRUE(WriteSceneImage(real.c_str(), 40, 30, 24));
  ASSERT_EQ(0, symlink("real.png", link.c_str()));
  ASSERT_EQ(1, SaveImageByName(image_, link.c_str(), 0));
  struct stat st;
  ASSERT_EQ(0, lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  FIBITMAP *saved = FreeImage_Load(FIF_PNG, real.c_str(), 0);
  ASSERT_NE(nullptr, saved);
  EXPECT_EQ(200u, FreeImage_GetWidth(saved));
  FreeImage_Unload(saved);
}

TEST_F(Saving, FailsIntoMissingFolderOrOntoAFolder) {
  EXPECT_EQ(0, SaveImageByName(image_, folder_.Path("no/such.png").c_str(),
                               0));
  ASSERT_EQ(0, mkdir(folder_.Path("dir.png").c_str(), 0755));
  EXPECT_EQ(0, SaveImageByName(image_, folder_.Path("dir.png").c_str(), 0));
  EXPECT_EQ((Texts{"dir.png"}), folder_.Names());
}

// libpng's writer refuses a profile whose illuminant isn't D50 (its reader
// took it), and a PNG that would not fit JPEG's limit of 65500 pixels a side
// is refused with that reason rather than the encoder's bare failure.
TEST_F(Saving, RejectedProfileIsDroppedAndOversizeJpegSaysWhy) {
  std::string profile = MinimalIccProfile("RGB ");
  PutBig32(&profile, 68, 0x00010000);  // an illuminant of 1, 1, 1
  FreeImage_CreateICCProfile(image_, &profile[0], (long)profile.size());
  std::string path = folder_.Path("tagged.png");
  SaveFailure failure;
  ASSERT_EQ(1, SaveImageByName(image_, path.c_str(), 0, &failure))
      << failure.reason;
  FIBITMAP *saved = FreeImage_Load(FIF_PNG, path.c_str(), 0);
  ASSERT_NE(nullptr, saved);
  EXPECT_EQ(0, FreeImage_GetICCProfile(saved)->size);
  FreeImage_Unload(saved);

  FIBITMAP *wide = FreeImage_Allocate(65501, 1, 8);
  EXPECT_EQ(0, SaveImageByName(wide, folder_.Path("wide.jpg").c_str(), 100,
                               &failure));
  EXPECT_STREQ("A JPEG holds at most 65500 pixels a side; the image is "
               "65501 x 1.",
               failure.reason);
  FreeImage_Unload(wide);
  EXPECT_EQ((Texts{"tagged.png"}), folder_.Names());
}

// A BMP may claim any number of dots per metre; JFIF holds 65535 dpi at
// most, and the library's unchecked conversion wrote a wrapped density.
TEST_F(Saving, ResolutionJpegCantHoldIsSavedAs72Dpi) {
  FreeImage_SetDotsPerMeterX(image_, 30000000);
  FreeImage_SetDotsPerMeterY(image_, 11811);  // 300 dpi
  std::string path = folder_.Path("dense.jpg");
  ASSERT_EQ(1, SaveImageByName(image_, path.c_str(), 90));
  FIBITMAP *saved = FreeImage_Load(FIF_JPEG, path.c_str(), 0);
  ASSERT_NE(nullptr, saved);
  EXPECT_EQ(2835u, FreeImage_GetDotsPerMeterX(saved));
  EXPECT_EQ(2835u, FreeImage_GetDotsPerMeterY(saved));
  FreeImage_Unload(saved);
  EXPECT_EQ(30000000u, FreeImage_GetDotsPerMeterX(image_));
}

// 8-bit BMPs saved with an odd quality once came out as broken RLE files.
TEST_F(Saving, OddQualityBmpOfEightBitImageRoundTrips) {
  FIBITMAP *grey = MakeSceneImage(33, 17, 8);
  std::string path = folder_.Path("grey.bmp");
  ASSERT_EQ(1, SaveImageByName(grey, path.c_str(), 75));
  FIBITMAP *back = FreeImage_Load(FIF_BMP, path.c_str(), 0);
  ASSERT_NE(nullptr, back);
  for (int y = 0; y < 17; y++)
    EXPECT_EQ(0, memcmp(FreeImage_GetScanLine(grey, y),
                        FreeImage_GetScanLine(back, y), 33));
  FreeImage_Unload(back);
  FreeImage_Unload(grey);
}

}  // namespace
