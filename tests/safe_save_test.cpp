// The platform's safe save on its own: the target is replaced whole or left
// as it was, and no temporary file outlives a save.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/fixtures.h"
#include "tests/portable.h"
#include "tests/temp_folder.h"

namespace {

TEST_F(SafeSaving, FinishReplacesTheTargetWhole) {
  WriteWholeFile(target_, "old contents");
  SafeSave save;
  ASSERT_EQ(1, PlatformBeginSafeSave(target_.c_str(), &save));
  EXPECT_EQ(2u, folder_.Names().size());  // the fresh file sits beside it
  EXPECT_EQ("", ReadWholeFile(save.temp));
  WriteWholeFile(save.temp, "new contents");
  EXPECT_EQ("old contents", ReadWholeFile(target_));
  ASSERT_EQ(1, PlatformFinishSafeSave(&save));
  EXPECT_EQ(nullptr, save.temp);
  EXPECT_EQ("new contents", ReadWholeFile(target_));
  EXPECT_EQ(Texts{"photo.jpg"}, folder_.Names());
}

TEST_F(SafeSaving, NewTargetsAreCreated) {
  SafeSave save;
  ASSERT_EQ(1, PlatformBeginSafeSave(target_.c_str(), &save));
  WriteWholeFile(save.temp, "fresh");
  ASSERT_EQ(1, PlatformFinishSafeSave(&save));
  EXPECT_EQ("fresh", ReadWholeFile(target_));
  EXPECT_EQ(Texts{"photo.jpg"}, folder_.Names());
}

TEST_F(SafeSaving, AbandonLeavesTheTargetAsItWas) {
  WriteWholeFile(target_, "old");
  SafeSave save;
  ASSERT_EQ(1, PlatformBeginSafeSave(target_.c_str(), &save));
  WriteWholeFile(save.temp, "half writ");
  PlatformAbandonSafeSave(&save);
  EXPECT_EQ("old", ReadWholeFile(target_));
  EXPECT_EQ(Texts{"photo.jpg"}, folder_.Names());
}

TEST_F(SafeSaving, FailuresLeaveNothingBehind) {
  SafeSave save;
  std::string missing = folder_.Path("none/photo.jpg");
  EXPECT_EQ(0, PlatformBeginSafeSave(missing.c_str(), &save));
  ASSERT_TRUE(MakeTestFolder(folder_.Path("album.jpg")));
  std::string folder_target = folder_.Path("album.jpg");
  ASSERT_EQ(1, PlatformBeginSafeSave(folder_target.c_str(), &save));
  WriteWholeFile(save.temp, "x");
  EXPECT_EQ(0, PlatformFinishSafeSave(&save));  // a folder is not replaced
  EXPECT_TRUE(IsFolder(folder_target));
  EXPECT_EQ(Texts{"album.jpg"}, folder_.Names());
}

}  // namespace
