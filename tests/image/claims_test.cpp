// The header checks that keep a small damaged file from taking the
// machine's memory: damaged headers refused, sound ones left to the library.
#include "image/load/claims.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "image/containers/header_fields.h"
#include "tests/image/loading.h"
#include "tests/image/png_bytes.h"
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
  EXPECT_EQ(0, ClaimsTooMuch(path, kFormatBmp));

  std::string tall = good;
  PutLittle32(&tall, kBmpHeight, 14483536);
  WriteWholeFile(path, tall);
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp));
  EXPECT_EQ(kImageDamaged, LoadError(path));
  PutLittle32(&tall, kBmpHeight, (uint32_t)-14483536);  // top-down rows
  WriteWholeFile(path, tall);
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp));

  WriteWholeFile(path, good.substr(0, good.size() / 2));  // cut short
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp));

  std::string rle = tall;
  // Run-length coded rows may be far smaller: only their size is judged.
  PutLittle32(&rle, kBmpCompression, 1);
  rle[kBmpBitsPerPixel] = 8;
  WriteWholeFile(path, rle);
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp));
  PutLittle32(&rle, kBmpWidth, 8192);
  PutLittle32(&rle, kBmpHeight, (uint32_t)-8192);
  WriteWholeFile(path, rle);
  EXPECT_EQ(0, ClaimsTooMuch(path, kFormatBmp));
  // Only where the library decodes the runs: RLE8 at 8 bits, RLE4 at 4.
  // At other depths it reads the rows raw (a 58-byte file made a black
  // 8192 x 8192 picture of 192 MB) or refuses them, after allocating.
  const struct {
    int bits, compression;
  } kRowsRead[] = {{24, 1}, {32, 1}, {16, 2}, {4, 1}, {8, 2}, {1, 1}};
  for (const auto &form : kRowsRead) {
    std::string raw = rle;
    raw[kBmpBitsPerPixel] = (char)form.bits;
    PutLittle32(&raw, kBmpCompression, (uint32_t)form.compression);
    WriteWholeFile(path, raw);
    EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp))
        << form.bits << " bits, compression " << form.compression;
  }

  // The old OS/2 header: 16-bit sizes, rows stored whole.
  std::string core = good;
  PutLittle32(&core, kBmpInfoSize, kBmpCoreInfoSize);
  for (size_t at : {kBmpCoreWidth, kBmpCoreHeight})
    core[at] = core[at + 1] = (char)0xFF;  // 65535
  core[kBmpCoreBitsPerPixel] = 24;
  core[kBmpCoreBitsPerPixel + 1] = 0;
  WriteWholeFile(path, core);
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp));

  WriteWholeFile(path, "BM");
  EXPECT_EQ(0, ClaimsTooMuch(path, kFormatBmp));
}

void PutBig32(std::string *data, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) (*data)[at + i] = (char)(value >> (24 - 8 * i));
}

// A damaged header with a checksum that holds, as a bomb is made.
void FixHeaderCrc(std::string *png) {
  uint32_t crc = FreeImage_ZLibCRC32(0, (BYTE *)&(*png)[kPngChunkType],
                                     kPngHeaderCrc - kPngChunkType);
  PutBig32(png, kPngHeaderCrc, crc);
}

// Also found by the corpus: a 9 KB PNG whose header (checksum and all) said
// 65535 x 65535 held the program for 18 seconds and 13 GB before failing.
TEST(DamagedPng, HeadersClaimingMoreThanDeflateCanHoldAreRefused) {
  TempFolder folder;
  std::string path = folder.Path("photo.png");
  ASSERT_TRUE(WriteSceneImage(path.c_str(), 160, 90, 24));
  std::string good = ReadWholeFile(path);
  EXPECT_EQ(0, ClaimsTooMuch(path, kFormatPng));
  std::string huge = good;
  PutBig32(&huge, kPngWidth, 65535);
  PutBig32(&huge, kPngHeight, 65535);
  FixHeaderCrc(&huge);
  WriteWholeFile(path, huge);
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatPng));
  EXPECT_EQ(kImageDamaged, LoadError(path));
  PutBig32(&huge, kPngWidth, 0xffffffff);  // sizes whose product overflows 64 bits
  PutBig32(&huge, kPngHeight, 0xffffffff);
  huge[kPngBitDepth] = 16;
  huge[kPngColourType] = 6;
  FixHeaderCrc(&huge);
  WriteWholeFile(path, huge);
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatPng));
  // A plain black 4000 x 4000 PNG packs near the limit, and is no damage.
  FIBITMAP *black = FreeImage_Allocate(4000, 4000, 24);
  ASSERT_NE(nullptr, black);
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, black, path.c_str(), PNG_Z_BEST_COMPRESSION));
  FreeImage_Unload(black);
  EXPECT_EQ(0, ClaimsTooMuch(path, kFormatPng));
  EXPECT_EQ(0, ClaimsTooMuch(path, kFormatJpeg));
  // Only IDAT chunks hold pixels: beside a 100 KB chunk of another kind, a
  // 2-byte IDAT let 28000 x 28000 pass, and the library took 774 MB.
  std::string header = Big32(28000) + Big32(28000);
  header += {1, 0, 0, 0, 0};  // 1-bit grey
  std::string padded = "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header) +
                       Chunk("paDd", std::string(100000, '\0'));
  WriteWholeFile(path, padded + Chunk("IDAT", "xx") + Chunk("IEND", ""));
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatPng));
  WriteWholeFile(path, padded + Chunk("IDAT", std::string(96000, '\0')));
  EXPECT_EQ(0, ClaimsTooMuch(path, kFormatPng));
  WriteWholeFile(path, padded + Chunk("IDAT", std::string(96000, '\0'))
                                    .substr(0, 90000));  // cut short
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatPng));
}

}  // namespace

namespace {

// Where a JPEG's first frame header (SOFn) begins: its marker's 0xFF.
size_t FrameAt(const std::string &jpeg) {
  for (size_t i = 2; i + 1 < jpeg.size(); i++) {
    unsigned char m = (unsigned char)jpeg[i + 1];
    if ((unsigned char)jpeg[i] == 0xFF && m >= 0xC0 && m <= 0xC2) return i;
  }
  return std::string::npos;
}

// The frame's fields start behind the marker and the 16-bit length.
void PutFrameSize(std::string *jpeg, unsigned width, unsigned height) {
  size_t fields = FrameAt(*jpeg) + 4;
  (*jpeg)[fields + kJpegWidth] = (char)(width >> 8);
  (*jpeg)[fields + kJpegWidth + 1] = (char)width;
  (*jpeg)[fields + kJpegHeight] = (char)(height >> 8);
  (*jpeg)[fields + kJpegHeight + 1] = (char)height;
}

class JpegClaims : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteSceneImage(path_.c_str(), 400, 300, 24));
    good_ = ReadWholeFile(path_);
    ASSERT_NE(std::string::npos, FrameAt(good_));
  }
  int Refused(const std::string &bytes) {
    WriteWholeFile(path_, bytes);
    return ClaimsTooMuch(path_, kFormatJpeg);
  }
  TempFolder folder_;
  std::string path_ = folder_.Path("photo.jpg");
  std::string good_;
};

// The bomb a user met: 4,000 bytes claiming 65,500 x 65,500 pixels took
// 68 seconds and 12.7 GB, then wrote a grey picture with status 0.
TEST_F(JpegClaims, FrameClaimingMoreBlocksThanItsBytesCodeIsRefused) {
  EXPECT_EQ(0, Refused(good_));
  std::string bomb = good_;
  PutFrameSize(&bomb, 65500, 65500);
  EXPECT_EQ(1, Refused(bomb.substr(0, 4000)));
  EXPECT_EQ(1, Refused(bomb));
  EXPECT_EQ(kImageDamaged, LoadError(path_));
  std::string progressive = bomb;
  progressive[FrameAt(progressive) + 1] = (char)0xC2;
  EXPECT_EQ(1, Refused(progressive));
  // Stray bytes and fill before the frame, which the library skips, hide
  // nothing; a frame with no scan behind it codes nothing.
  std::string hidden = bomb;
  hidden.insert(FrameAt(hidden), "junk\xFF\xFF");
  EXPECT_EQ(1, Refused(hidden));
  // Nor does a marker the decoder does not know: the library goes on past
  // it without skipping the length that seems to follow.
  std::string unknown = progressive;
  unknown.insert(FrameAt(unknown), std::string("\xFF\x43\xFF\xF0", 4));
  EXPECT_EQ(1, Refused(unknown));
  // Nor a comment whose length is less than its own two bytes.
  std::string bogus = progressive;
  bogus.insert(FrameAt(bogus), std::string("\xFF\xFE\x00\x01", 4));
  EXPECT_EQ(1, Refused(bogus));
  EXPECT_EQ(1, Refused(good_.substr(0, FrameAt(good_) + 40)));
}

// Every block's DC code takes a bit at least: a photo cut short passes
// unless only a few percent of its data is left.
TEST_F(JpegClaims, CutPhotosTheLibraryStillShowsPass) {
  for (size_t tenth = 2; tenth <= 9; tenth++)
    EXPECT_EQ(0, Refused(good_.substr(0, good_.size() * tenth / 10)))
        << tenth << " tenths";
  // A tenth of this small file is its tables and 3% of its data.
  EXPECT_EQ(1, Refused(good_.substr(0, good_.size() / 10)));
  // A flat grey picture codes each block in about two bits: whole, it
  // passes; a tenth of it could not code its blocks.
  FIBITMAP *flat = FreeImage_Allocate(2000, 2000, 24);
  ASSERT_NE(nullptr, flat);
  ASSERT_TRUE(FreeImage_Save(FIF_JPEG, flat, path_.c_str(), JPEG_OPTIMIZE));
  FreeImage_Unload(flat);
  std::string grey = ReadWholeFile(path_);
  EXPECT_EQ(0, Refused(grey));
  EXPECT_EQ(1, Refused(grey.substr(0, grey.size() / 10)));
  // Headers the check cannot read are left to the library.
  EXPECT_EQ(0, Refused(""));
  EXPECT_EQ(0, Refused("\xFF\xD8"));
  EXPECT_EQ(0, Refused(good_.substr(0, FrameAt(good_) + 6)));
  EXPECT_EQ(0, Refused(std::string("\x89PNG") + good_));
}

// Arithmetic coding can spend far less than a bit on a block, so only the
// size of such a frame is judged.
// Only frames of 1, 3 or 4 components reach the library (nine once
// corrupted its heap); frames it refuses itself are not counted (a sampling
// factor of 0 divided the count of blocks by zero).
TEST_F(JpegClaims, FramesOfOddShapesAreRefusedOrLeftToTheLibrary) {
  std::string two = good_;
  two[FrameAt(two) + 4 + kJpegComponents] = 2;
  EXPECT_EQ(1, Refused(two));
  std::string unsampled = good_;
  unsampled[FrameAt(unsampled) + 4 + kJpegComponentFirst +
            kJpegSamplingInComponent] = 0;
  EXPECT_EQ(0, Refused(unsampled));
  EXPECT_EQ(kImageUndecodable, LoadError(path_));
}

TEST_F(JpegClaims, ArithmeticFramesAreHeldToAFixedSize) {
  for (unsigned height : {8192u, 8193u}) {
    std::string arithmetic = good_;
    PutFrameSize(&arithmetic, 8192, height);
    arithmetic[FrameAt(good_) + 1] = (char)0xC9;  // SOF9
    EXPECT_EQ(height > 8192, Refused(arithmetic.substr(0, 1000))) << height;
  }
}

// A 256 x 256 frame (SOF2, or another marker) of Y sampled 2 x 2, Cb and
// Cr, then scans, each naming its components (1 to 3) and followed by so
// many coded bytes. Y has 1,024 blocks, Cb and Cr 256 each.
struct Scan {
  std::string components;
  size_t bytes;
};

std::string JpegOfScans(const std::vector<Scan> &scans, char marker = '\xC2') {
  std::string jpeg = std::string("\xFF\xD8\xFF", 3) + marker +
                     std::string("\x00\x11\x08\x01\x00\x01\x00\x03"
                                 "\x01\x22\x00\x02\x11\x00\x03\x11\x00",
                                 17);
  for (const Scan &scan : scans) {
    size_t count = scan.components.size();
    jpeg += std::string("\xFF\xDA\x00", 3) + (char)(6 + 2 * count) +
            (char)count;
    for (char c : scan.components) jpeg += std::string(1, c) + '\0';
    jpeg += std::string("\x00\x3F\x00", 3) + std::string(scan.bytes, '\0');
  }
  return jpeg + "\xFF\xD9";
}

// Each component must be coded, by some scan, in a bit a block: a file
// whose first scan coded Cb alone, then Y in no bytes, passed and took
// 838 MB before the library failed.
TEST(JpegScans, EveryComponentNeedsAScanWithABitABlock) {
  const struct {
    std::vector<Scan> scans;
    int refused;
  } kFiles[] = {
      {{{"\x01\x02\x03", 192}}, 0},  // (1,024 + 2 x 256) / 8 bytes
      {{{"\x01\x02\x03", 191}}, 1},
      {{{"\x01", 128}, {"\x02", 32}, {"\x03", 32}}, 0},
      {{{"\x02", 32}, {"\x01", 0}, {"\x03", 32}}, 1},
      {{{"\x01\x02\x03", 192}, {"\x01", 0}, {"\x02", 0}}, 0},
      {{{"\x01\x02", 160}, {"\x01", 0}}, 1},  // Cr in no scan
      {{{"\x01\x02\x03", 191}, {"\x01\x02\x03", 192}}, 0},
      {{}, 1},
  };
  TempFolder folder;
  std::string path = folder.Path("scans.jpg");
  for (size_t i = 0; i < sizeof kFiles / sizeof kFiles[0]; i++) {
    WriteWholeFile(path, JpegOfScans(kFiles[i].scans));
    EXPECT_EQ(kFiles[i].refused, ClaimsTooMuch(path, kFormatJpeg)) << i;
  }
}

// The decoder walks every block of every scan, coded or not: 10,000 empty
// scans of a 133 KB file held it for 12.5 s, 3,000 of a 30 KB
// arithmetic-coded one for 23.7 s, 500 over a 4096 x 4096 picture 9 s. 500
// scans are as many as TurboJPEG takes, and the blocks they code, summed,
// may be 32 times the picture's 1,536.
TEST(JpegScans, TooManyScansOrTooMuchWorkAreRefused) {
  const struct {
    const char *component;  // of the empty scans
    size_t empty;
    int refused;
  } kFiles[] = {
      {"\x04", 497, 0},  // no component of the frame: no blocks to walk
      {"\x04", 498, 1},
      {"\x01", 46, 0},   // 1,536 + 46 x 1,024 blocks
      {"\x01", 47, 1},
  };
  TempFolder folder;
  std::string path = folder.Path("scans.jpg");
  for (char marker : {'\xC2', '\xCA'})
    for (const auto &file : kFiles) {
      std::vector<Scan> scans = {{"\x01", 128}, {"\x02", 32}, {"\x03", 32}};
      scans.resize(3 + file.empty, Scan{file.component, 0});
      WriteWholeFile(path, JpegOfScans(scans, marker));
      EXPECT_EQ(file.refused, ClaimsTooMuch(path, kFormatJpeg))
          << file.empty << " empty scans of " << (int)file.component[0]
          << ", marker " << (int)(unsigned char)marker;
    }
}

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
    EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp));
  }
  EXPECT_EQ(kImageDamaged, LoadError(path));
}

// Bit fields need a mask to show any colour by; without one, or with the
// masks cut off by the end of the file, the picture would load all black.
TEST(DamagedBmp, BitFieldsWithoutAColourMaskAreRefused) {
  TempFolder folder;
  std::string path = folder.Path("fields.bmp");
  FIBITMAP *scene = MakeSceneImage(40, 30, 24);
  FIBITMAP *packed = FreeImage_ConvertTo16Bits565(scene);
  ASSERT_TRUE(FreeImage_Save(FIF_BMP, packed, path.c_str(), 0));
  FreeImage_Unload(packed);
  FreeImage_Unload(scene);
  std::string bmp = ReadWholeFile(path);
  ASSERT_EQ(3u, (unsigned char)bmp[kBmpCompression]);
  EXPECT_EQ(0, ClaimsTooMuch(path, kFormatBmp));
  std::string unmasked = bmp;
  for (size_t at : {kBmpRedMask, kBmpGreenMask, kBmpBlueMask})
    PutLittle32(&unmasked, at, 0);
  WriteWholeFile(path, unmasked);
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp));
  EXPECT_EQ(kImageDamaged, LoadError(path));
  std::string cut = bmp.substr(0, kBmpRedMask + 2);  // 1 x 1 fits still
  PutLittle32(&cut, kBmpWidth, 1);
  PutLittle32(&cut, kBmpHeight, 1);
  PutLittle32(&cut, kBmpPixelOffset, kBmpRedMask);
  WriteWholeFile(path, cut);
  EXPECT_EQ(1, ClaimsTooMuch(path, kFormatBmp));
}

}  // namespace
