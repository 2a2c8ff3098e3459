// What a photo carries besides its pixels, kept from the file to every
// bitmap that replaces the loaded one.
#include "app/image_carry.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "app/imagefile.h"
#include "tests/icc_profiles.h"
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

// The library keeps the profile on a crop, but not on a rotate or a resize.
TEST_F(PhotoData, EveryReplacementGetsWhatThePhotoCarries) {
  FIBITMAP *turned = RotateImage(photo_, 90);
  FIBITMAP *small = ResizeImage(photo_, 20, 0);
  FIBITMAP *part = CropImage(photo_, 2, 2, 10, 10);
  EXPECT_EQ(0, FreeImage_GetICCProfile(turned)->size);
  EXPECT_EQ(0, FreeImage_GetICCProfile(small)->size);
  for (FIBITMAP *replacement : {turned, small, part}) {
    CarryPhotoData(photo_, replacement);
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

}  // namespace
