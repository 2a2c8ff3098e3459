// What a photo carries besides its pixels, kept from the file to every
// bitmap that replaces the loaded one.
#include "image/pixels/carry.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "image/imagefile.h"
#include "tests/icc_profiles.h"
#include "tests/image/loading.h"
#include "tests/temp_folder.h"
#include "tools/test_images.h"

namespace {

std::string ProfileOf(FIBITMAP *bitmap) {
  FIICCPROFILE *profile = FreeImage_GetICCProfile(bitmap);
  return std::string((const char *)profile->data, (size_t)profile->size);
}

std::string TagText(FIBITMAP *bitmap, FREE_IMAGE_MDMODEL model,
                    const char *key) {
  FITAG *tag = NULL;
  if (!FreeImage_GetMetadata(model, bitmap, key, &tag)) return "<none>";
  return std::string((const char *)FreeImage_GetTagValue(tag),
                     FreeImage_GetTagLength(tag));
}

void SetTagText(FIBITMAP *bitmap, FREE_IMAGE_MDMODEL model, const char *key,
                const std::string &text) {
  FITAG *tag = FreeImage_CreateTag();
  FreeImage_SetTagKey(tag, key);
  FreeImage_SetTagType(tag, FIDT_ASCII);
  FreeImage_SetTagLength(tag, (DWORD)text.size() + 1);
  FreeImage_SetTagCount(tag, (DWORD)text.size() + 1);
  FreeImage_SetTagValue(tag, text.c_str());
  FreeImage_SetMetadata(model, bitmap, key, tag);
  FreeImage_DeleteTag(tag);
}

class PhotoData : public ::testing::Test {
 protected:
  void SetUp() override {
    photo_ = MakeSceneImage(40, 30, 24);
    FreeImage_CreateICCProfile(photo_, (void *)profile_.data(),
                               (long)profile_.size());
    FreeImage_SetDotsPerMeterX(photo_, 11811);  // 300 dpi
    FreeImage_SetDotsPerMeterY(photo_, 11811);
    SetTagText(photo_, FIMD_XMP, "XMLPacket", "<x:xmpmeta/>");
    SetTagText(photo_, FIMD_COMMENTS, "Comment", "harbour at dusk");
  }
  void TearDown() override { FreeImage_Unload(photo_); }

  void ExpectCarried(FIBITMAP *replacement) {
    EXPECT_EQ(profile_, ProfileOf(replacement));
    EXPECT_EQ(11811u, FreeImage_GetDotsPerMeterX(replacement));
    EXPECT_EQ(11811u, FreeImage_GetDotsPerMeterY(replacement));
    EXPECT_EQ(std::string("<x:xmpmeta/>", 13),
              TagText(replacement, FIMD_XMP, "XMLPacket"));
    EXPECT_EQ(std::string("harbour at dusk", 16),
              TagText(replacement, FIMD_COMMENTS, "Comment"));
  }

  std::string profile_ = MinimalIccProfile("RGB ");
  FIBITMAP *photo_;
};

// The library keeps the profile on a crop, but not on a rotate or a resize;
// every edit's result carries it all the same.
TEST_F(PhotoData, EveryReplacementGetsWhatThePhotoCarries) {
  FIBITMAP *turned = RotateImage(photo_, 90);
  FIBITMAP *tilted = RotateImage(photo_, 30);
  FIBITMAP *small = ResizeImage(photo_, 20, 0, kFilterBSpline);
  FIBITMAP *part = CropImage(photo_, 2, 2, 10, 10);
  for (FIBITMAP *replacement : {turned, tilted, small, part}) {
    ExpectCarried(replacement);
    FreeImage_Unload(replacement);
  }
}

TEST_F(PhotoData, CarryingToItselfOrNothingChangesNothing) {
  CarryPhotoData(photo_, photo_);
  ExpectCarried(photo_);
  CarryPhotoData(photo_, nullptr);
  CarryPhotoData(nullptr, photo_);
  ExpectCarried(photo_);
}

// A photo without a profile gives none, and leaves the EXIF it carries.
TEST_F(PhotoData, NoProfileToCarryLeavesTheReplacementsOwn) {
  FIBITMAP *plain = MakeSceneImage(40, 30, 24);
  FIBITMAP *turned = RotateImage(plain, 90);
  CarryPhotoData(plain, turned);
  EXPECT_EQ(0, FreeImage_GetICCProfile(turned)->size);
  FreeImage_Unload(turned);
  FreeImage_Unload(plain);
}

class LoadedProfiles : public ::testing::Test {
 protected:
  // Saves bitmap with a profile of colour_space and loads it as the
  // program does.
  std::string SaveAndLoad(FIBITMAP *bitmap, const char *name,
                          const std::string &profile, FIBITMAP **loaded) {
    FreeImage_CreateICCProfile(bitmap, (void *)profile.data(),
                               (long)profile.size());
    std::string path = folder_.Path(name);
    EXPECT_TRUE(FreeImage_Save(ImageFormatOf(name) == kFormatPng ? FIF_PNG
                                                                  : FIF_JPEG,
                               bitmap, path.c_str(), 0));
    *loaded = Loaded(path);
    return path;
  }
  TempFolder folder_;
};

// The library's PNG reader sees the iCCP chunk but keeps nothing of it.
TEST_F(LoadedProfiles, APngKeepsItsProfile) {
  std::string profile = MinimalIccProfile("RGB ");
  FIBITMAP *truecolour = MakeSceneImage(40, 30, 24);
  FIBITMAP *palette = FreeImage_ColorQuantize(truecolour, FIQ_WUQUANT);
  FreeImage_Unload(truecolour);
  for (int bpp : {8, 24, 32}) {
    FIBITMAP *scene =
        bpp == 8 ? FreeImage_Clone(palette) : MakeSceneImage(40, 30, bpp);
    FIBITMAP *loaded;
    std::string path = SaveAndLoad(scene, "profiled.png", profile, &loaded);
    ASSERT_NE(std::string::npos, ReadWholeFile(path).find("iCCP"));
    FIBITMAP *library = FreeImage_Load(FIF_PNG, path.c_str(), 0);
    EXPECT_EQ(0, FreeImage_GetICCProfile(library)->size);
    EXPECT_EQ(profile, ProfileOf(loaded)) << bpp;
    FreeImage_Unload(library);
    FreeImage_Unload(loaded);
    FreeImage_Unload(scene);
  }
  FreeImage_Unload(palette);
}

TEST_F(LoadedProfiles, AGreyPngKeepsItsGreyProfile) {
  FIBITMAP *scene = MakeSceneImage(40, 30, 24);
  FIBITMAP *grey = FreeImage_ConvertToGreyscale(scene), *loaded;
  std::string profile = MinimalIccProfile("GRAY");
  SaveAndLoad(grey, "grey.png", profile, &loaded);
  EXPECT_EQ(profile, ProfileOf(loaded));
  FreeImage_Unload(loaded);
  FreeImage_Unload(grey);
  FreeImage_Unload(scene);
}

// A damaged iCCP chunk is skipped, as libpng skips it: the picture loads.
TEST_F(LoadedProfiles, ADamagedPngProfileIsLeftOut) {
  FIBITMAP *scene = MakeSceneImage(40, 30, 24), *loaded;
  std::string path =
      SaveAndLoad(scene, "damaged.png", MinimalIccProfile("RGB "), &loaded);
  FreeImage_Unload(loaded);
  std::string file = ReadWholeFile(path);
  size_t chunk = file.find("iCCP");
  size_t length = (unsigned char)file[chunk - 1];  // small: one byte
  for (size_t at : {chunk + 4 + 20, chunk + 4 + length}) {  // data, CRC
    std::string damaged = file;
    damaged[at] ^= 0x5A;
    WriteWholeFile(path, damaged);
    loaded = Loaded(path);
    EXPECT_EQ(0, FreeImage_GetICCProfile(loaded)->size) << at;
    FreeImage_Unload(loaded);
  }
  FreeImage_Unload(scene);
}

// The library loads a CMYK JPEG as RGB and keeps its CMYK profile.
TEST_F(LoadedProfiles, ACmykProfileNeverStaysWithRgbPixels) {
  FIBITMAP *cmyk = MakeSceneImage(40, 30, 32), *loaded;
  FreeImage_GetICCProfile(cmyk)->flags |= FIICC_COLOR_IS_CMYK;
  std::string path =
      SaveAndLoad(cmyk, "cmyk.jpg", MinimalIccProfile("CMYK"), &loaded);
  FIBITMAP *library = FreeImage_Load(FIF_JPEG, path.c_str(), 0);
  ASSERT_EQ(24u, FreeImage_GetBPP(library));
  EXPECT_NE(0, FreeImage_GetICCProfile(library)->size);
  EXPECT_EQ(24u, FreeImage_GetBPP(loaded));
  EXPECT_EQ(0, FreeImage_GetICCProfile(loaded)->size);
  FreeImage_Unload(library);
  FreeImage_Unload(loaded);
  FreeImage_Unload(cmyk);
}

TEST_F(LoadedProfiles, AnRgbJpegKeepsItsProfile) {
  FIBITMAP *scene = MakeSceneImage(40, 30, 24), *loaded;
  std::string profile = MinimalIccProfile("RGB ");
  SaveAndLoad(scene, "adobe.jpg", profile, &loaded);
  EXPECT_EQ(profile, ProfileOf(loaded));
  FreeImage_Unload(loaded);
  FreeImage_Unload(scene);
}

void PutLittle32(std::string *data, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) (*data)[at + i] = (char)(value >> (8 * i));
}

// The library's 24-bit BMP of bitmap behind a V5 header that embeds profile
// at the end of the file, its place and size as stated (from the start of
// the info header), shifted by the given amounts.
std::string V5BmpWithProfile(FIBITMAP *bitmap, const std::string &profile,
                             int64_t place_shift, int64_t size_shift) {
  FIMEMORY *memory = FreeImage_OpenMemory();
  EXPECT_TRUE(FreeImage_SaveToMemory(FIF_BMP, bitmap, memory, 0));
  BYTE *data;
  DWORD size;
  FreeImage_AcquireMemory(memory, &data, &size);
  std::string bmp((char *)data, size);
  FreeImage_CloseMemory(memory);
  std::string info = bmp.substr(14, 40) + std::string(124 - 40, '\0');
  PutLittle32(&info, 0, 124);
  info.replace(56, 4, "DEBM");  // "MBED", stored little-endian
  std::string pixels = bmp.substr(54);
  PutLittle32(&info, 112, (uint32_t)(124 + pixels.size() + place_shift));
  PutLittle32(&info, 116, (uint32_t)(profile.size() + size_shift));
  std::string file = bmp.substr(0, 14) + info + pixels + profile;
  PutLittle32(&file, 10, 14 + 124);
  PutLittle32(&file, 2, (uint32_t)file.size());
  return file;
}

// The library reads a V5 BMP's pixels but not the profile it embeds; the
// profile is taken only where it lies wholly inside the file.
TEST_F(LoadedProfiles, ABmpKeepsTheProfileItEmbeds) {
  std::string profile = MinimalIccProfile("RGB ");
  struct Case {
    int64_t place_shift, size_shift;
    bool kept;
  } cases[] = {{0, 0, true},
               {1, 0, false},  // runs one byte past the end
               {0, 1, false},  // so does a size one too large
               {-(124 + 40 * 30 * 3), 0, false},  // over the info header
               {0, -(int64_t)profile.size(), false}};  // empty
  FIBITMAP *scene = MakeSceneImage(40, 30, 24);
  std::string path = folder_.Path("profiled.bmp");
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.place_shift << ", " << c.size_shift);
    WriteWholeFile(path, V5BmpWithProfile(scene, profile, c.place_shift,
                                          c.size_shift));
    FIBITMAP *loaded = Loaded(path);
    ASSERT_NE(nullptr, loaded);
    EXPECT_EQ(c.kept ? profile : "", ProfileOf(loaded));
    FreeImage_Unload(loaded);
  }
  FreeImage_Unload(scene);
}

}  // namespace
