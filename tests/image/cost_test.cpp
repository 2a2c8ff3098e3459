// What a load costs, against what the library really makes.
#include "image/load/cost.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <string>

#include "image/load/picture_only.h"
#include "tests/image/loading.h"
#include "tests/image/png_bytes.h"
#include "tools/test_images.h"

namespace {

FIBITMAP *LibraryLoad(const std::string &bytes, FREE_IMAGE_FORMAT format) {
  FIMEMORY *memory =
      FreeImage_OpenMemory((BYTE *)bytes.data(), (DWORD)bytes.size());
  FIBITMAP *bitmap = FreeImage_LoadFromMemory(format, memory, 0);
  FreeImage_CloseMemory(memory);
  return bitmap;
}

// The library widens some PNG forms as it loads them, and a check that
// counted the stored depth let a 70 KB file take 496 MB.
TEST(LoadCost, PngIsCostedAtTheDepthTheLibraryLoads) {
  struct Form {
    int colour_type;
    std::vector<int> depths;
  };
  const Form kForms[] = {{0, {1, 2, 4, 8, 16}},
                         {2, {8, 16}},
                         {3, {1, 2, 4, 8}},
                         {4, {8, 16}},
                         {6, {8, 16}}};
  for (const Form &form : kForms)
    for (int depth : form.depths)
      for (bool transparent : {false, true}) {
        std::string png =
            PngOfForm(form.colour_type, depth, transparent, 37, 5);
        ImageHeaders headers = HeadersOf(png, kFormatPng);
        FIBITMAP *loaded = LibraryLoad(png, FIF_PNG);
        ASSERT_NE(nullptr, loaded);
        EXPECT_EQ(FreeImage_GetBPP(loaded), PngLoadedBits(&headers.png))
            << "colour type " << form.colour_type << ", depth " << depth
            << (transparent ? ", transparent" : "");
        EXPECT_GE(LoadCost(&headers), FreeImage_GetDIBSize(loaded));
        FreeImage_Unload(loaded);
      }
  // The file of the 496 MB: one bit a pixel stored, eight loaded.
  ImageHeaders wide =
      HeadersOf(PngOfForm(3, 1, true, 100000, 5000), kFormatPng);
  EXPECT_GE(LoadCost(&wide), 500000000u);
}

// A progressive JPEG keeps every coefficient until its last scan: as much
// again as its 24-bit bitmap, which a baseline one needs alone.
TEST(LoadCost, JpegCountsTheWholePictureBufferOfProgressiveFiles) {
  FIBITMAP *scene = MakeSceneImage(2000, 1500, 24);
  FIMEMORY *baseline = FreeImage_OpenMemory(),
           *progressive = FreeImage_OpenMemory();
  FreeImage_SaveToMemory(FIF_JPEG, scene, baseline, 90);
  FreeImage_SaveToMemory(FIF_JPEG, scene, progressive, 90 | JPEG_PROGRESSIVE);
  FreeImage_Unload(scene);
  uint64_t cost[2];
  FIMEMORY *files[2] = {baseline, progressive};
  for (int i = 0; i < 2; i++) {
    BYTE *data;
    DWORD size;
    FreeImage_AcquireMemory(files[i], &data, &size);
    ImageHeaders headers =
        HeadersOf(std::string((char *)data, size), kFormatJpeg);
    cost[i] = LoadCost(&headers);
    FreeImage_CloseMemory(files[i]);
  }
  uint64_t bitmap = 2000 * 3 * 1500;
  EXPECT_GE(cost[0], bitmap);
  EXPECT_LT(cost[0], bitmap + 2000000);
  EXPECT_GE(cost[1], 2 * bitmap);
}

// An APPn behind the first scan is counted by the frame's walk and left
// out of what the library is shown; with none, the shown bytes are the
// file's, though that walk stops at the first scan.
TEST(PictureOnly, LeavesOutWhatStandsBehindTheFirstScan) {
  FIBITMAP *scene = MakeSceneImage(64, 48, 24);
  FIMEMORY *memory = FreeImage_OpenMemory();
  FreeImage_SaveToMemory(FIF_JPEG, scene, memory, 90 | JPEG_PROGRESSIVE);
  FreeImage_Unload(scene);
  BYTE *data;
  DWORD size;
  FreeImage_AcquireMemory(memory, &data, &size);
  const std::string file((char *)data, size);
  const std::string late = std::string("\xFF\xE1\x00\x08", 4) + "late!!";
  FreeImage_CloseMemory(memory);
  size_t second_scan = file.find("\xFF\xDA", file.find("\xFF\xDA") + 2);
  ASSERT_NE(std::string::npos, second_scan);
  std::string with_late = file;
  with_late.insert(second_scan, late);
  for (const std::string &jpeg : {file, with_late}) {
    ImageHeaders headers = HeadersOf(jpeg, kFormatJpeg);
    ASSERT_TRUE(headers.read);
    EXPECT_EQ(jpeg == with_late, headers.jpeg.late_markers);
    ShownBytes shown;
    ASSERT_TRUE(PictureOnly((const unsigned char *)jpeg.data(), jpeg.size(),
                            &headers, &shown));
    std::string bytes;
    for (int i = 0; i < shown.span_count; i++)
      bytes.append((const char *)shown.spans[i].bytes, shown.spans[i].size);
    free((void *)shown.spans);
    EXPECT_EQ(file, bytes);
  }
}

// A baseline frame whose first scan holds some of the components is
// decoded scan by scan too, into a buffer of every component's
// coefficients, not only the first scan's: 256 x 256, Y sampled 2 x 2,
// stores 1,024 + 2 x 256 blocks.
TEST(LoadCost, JpegScanByScanCountsEveryComponentsCoefficients) {
  std::string frame("\xFF\xD8\xFF\xC0\x00\x11\x08\x01\x00\x01\x00\x03"
                    "\x01\x22\x00\x02\x11\x00\x03\x11\x00",
                    21);
  uint64_t cost[2];
  for (int first_scan : {3, 1}) {
    std::string jpeg = frame + std::string("\xFF\xDA\x00", 3) +
                       (char)(6 + 2 * first_scan) + (char)first_scan;
    for (int c = 1; c <= first_scan; c++) jpeg += std::string{(char)c, 0};
    jpeg += std::string("\x00\x3F\x00", 3) + std::string(300, '\x55');
    ImageHeaders headers = HeadersOf(jpeg, kFormatJpeg);
    ASSERT_TRUE(headers.read);
    cost[first_scan == 1] = LoadCost(&headers);
  }
  EXPECT_EQ(cost[0] + (1024 + 2 * 256) * 64 * 2, cost[1]);
}

// Bit-field pixels are unpacked into plain rows, freed only once the
// library has made its bitmap of them: a 16-bit file takes 3 bytes a pixel
// twice, not 2 and 3.
TEST(LoadCost, BmpBitFieldsAreCostedAtTheirUnpackedDepth) {
  FIBITMAP *scene = MakeSceneImage(2000, 1500, 24);  // beyond the overhead
  FIBITMAP *packed = FreeImage_ConvertTo16Bits565(scene);
  FIMEMORY *memory = FreeImage_OpenMemory();
  ASSERT_TRUE(FreeImage_SaveToMemory(FIF_BMP, packed, memory, 0));
  BYTE *data;
  DWORD size;
  FreeImage_AcquireMemory(memory, &data, &size);
  std::string bmp((char *)data, size);
  FreeImage_CloseMemory(memory);
  ImageHeaders headers = HeadersOf(bmp, kFormatBmp);
  FIBITMAP *loaded = LoadBmpBytes((const unsigned char *)bmp.data(),
                                  bmp.size(), &headers.bmp);
  ASSERT_NE(nullptr, loaded);
  ASSERT_EQ(24u, FreeImage_GetBPP(loaded));
  EXPECT_GE(LoadCost(&headers), 2 * (uint64_t)FreeImage_GetDIBSize(loaded));
  FreeImage_Unload(loaded);
  FreeImage_Unload(packed);
  FreeImage_Unload(scene);
}

// A 4-bit grey image with a gamma to apply is loaded a second time, while
// the first bitmap is kept, to correct its samples at 8 bits.
TEST(LoadCost, GreyLoadedTwiceIsCostedTwice) {
  std::vector<int> samples(4000);
  for (size_t i = 0; i < samples.size(); i++) samples[i] = (int)(i % 16);
  std::string png = GreyPngOf(4, samples, 3000, Chunk("gAMA", Big32(100000)));
  ImageHeaders headers = HeadersOf(png, kFormatPng);
  FIBITMAP *loaded = LibraryLoad(png, FIF_PNG);
  ASSERT_NE(nullptr, loaded);
  ASSERT_EQ(4u, FreeImage_GetBPP(loaded));
  EXPECT_GE(LoadCost(&headers), 2 * (uint64_t)FreeImage_GetDIBSize(loaded));
  FreeImage_Unload(loaded);
}

}  // namespace
