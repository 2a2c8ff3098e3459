// The header checks that keep a small damaged file from taking the
// machine's memory: damaged headers refused, sound ones left to the library.
#include "app/image_claims.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <stdint.h>

#include <string>

#include "app/image_headers.h"
#include "tests/temp_folder.h"
#include "tests/texts.h"
#include "tools/test_images.h"

namespace {

void PutLittle32(std::string *data, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) (*data)[at + i] = (char)(value >> (8 * i));
}

// Found by the damaged-image corpus: one flipped byte in a BMP's height made
// a 30 KB file claim 1.7 billion pixels, which the library allocated.
TEST(DamagedBmp, HeadersClaimingMoreThanTheFileHoldsAreRefused) {
  TempFolder folder;
  std::string path = folder.Path("photo.bmp");
  ASSERT_TRUE(WriteSceneImage(path.c_str(), 120, 80, 24));
  std::string good = ReadWholeFile(path);
  EXPECT_EQ(0, ImageClaimsMoreThanItHolds(path.c_str(), kFormatBmp));

  std::string tall = good;
  PutLittle32(&tall, kBmpHeight, 14483536);
  WriteWholeFile(path, tall);
  EXPECT_EQ(1, ImageClaimsMoreThanItHolds(path.c_str(), kFormatBmp));
  EXPECT_EXIT(LoadImageByName(path.c_str()), testing::ExitedWithCode(1),
              "Couldn't open input file: .*photo.bmp");
  PutLittle32(&tall, kBmpHeight, (uint32_t)-14483536);  // top-down rows
  WriteWholeFile(path, tall);
  EXPECT_EQ(1, ImageClaimsMoreThanItHolds(path.c_str(), kFormatBmp));

  WriteWholeFile(path, good.substr(0, good.size() / 2));  // cut short
  EXPECT_EQ(1, ImageClaimsMoreThanItHolds(path.c_str(), kFormatBmp));

  std::string rle = tall;
  // Compressed rows may be far smaller: the library judges those.
  PutLittle32(&rle, kBmpCompression, 1);
  WriteWholeFile(path, rle);
  EXPECT_EQ(0, ImageClaimsMoreThanItHolds(path.c_str(), kFormatBmp));

  WriteWholeFile(path, "BM");
  EXPECT_EQ(0, ImageClaimsMoreThanItHolds(path.c_str(), kFormatBmp));
  EXPECT_EQ(0, ImageClaimsMoreThanItHolds(folder.Path("missing.bmp").c_str(),
                                          kFormatBmp));
}

void PutBig32(std::string *data, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) (*data)[at + i] = (char)(value >> (24 - 8 * i));
}

// Also found by the corpus: a 9 KB PNG whose header (checksum and all) said
// 65535 x 65535 held the program for 18 seconds and 13 GB before failing.
TEST(DamagedPng, HeadersClaimingMoreThanDeflateCanHoldAreRefused) {
  TempFolder folder;
  std::string path = folder.Path("photo.png");
  ASSERT_TRUE(WriteSceneImage(path.c_str(), 160, 90, 24));
  std::string good = ReadWholeFile(path);
  EXPECT_EQ(0, ImageClaimsMoreThanItHolds(path.c_str(), kFormatPng));
  std::string huge = good;
  PutBig32(&huge, kPngWidth, 65535);
  PutBig32(&huge, kPngHeight, 65535);
  WriteWholeFile(path, huge);
  EXPECT_EQ(1, ImageClaimsMoreThanItHolds(path.c_str(), kFormatPng));
  EXPECT_EXIT(LoadImageByName(path.c_str()), testing::ExitedWithCode(1),
              "Couldn't open input file: .*photo.png");
  PutBig32(&huge, kPngWidth, 0xffffffff);  // sizes whose product overflows 64 bits
  PutBig32(&huge, kPngHeight, 0xffffffff);
  huge[kPngBitDepth] = 16;
  huge[kPngColourType] = 6;
  WriteWholeFile(path, huge);
  EXPECT_EQ(1, ImageClaimsMoreThanItHolds(path.c_str(), kFormatPng));
  // A plain black 4000 x 4000 PNG packs near the limit, and is no damage.
  FIBITMAP *black = FreeImage_Allocate(4000, 4000, 24);
  ASSERT_NE(nullptr, black);
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, black, path.c_str(), PNG_Z_BEST_COMPRESSION));
  FreeImage_Unload(black);
  EXPECT_EQ(0, ImageClaimsMoreThanItHolds(path.c_str(), kFormatPng));
  EXPECT_EQ(0, ImageClaimsMoreThanItHolds(path.c_str(), kFormatJpeg));
}

}  // namespace

namespace {

// A BMP's pixel data must start inside the file: the library read garbage
// from wherever the offset pointed (0xFFFFFFF0) and succeeded.
TEST(DamagedBmp, PixelDataOutsideTheFileIsRefused) {
  TempFolder folder;
  std::string path = folder.Path("photo.bmp");
  ASSERT_TRUE(WriteSceneImage(path.c_str(), 40, 30, 24));
  std::string bmp = ReadWholeFile(path);
  for (uint32_t offset : {0xFFFFFFF0u, (uint32_t)bmp.size()}) {
    std::string moved = bmp;
    PutLittle32(&moved, kBmpPixelOffset, offset);
    PutLittle32(&moved, kBmpCompression, 1);  // even where rows aren't judged
    WriteWholeFile(path, moved);
    EXPECT_EQ(1, ImageClaimsMoreThanItHolds(path.c_str(), kFormatBmp));
  }
  EXPECT_EXIT(LoadImageByName(path.c_str()), testing::ExitedWithCode(1),
              "Couldn't open input file: .*photo.bmp");
}

}  // namespace
