// The platform's safe save on its own: the target is replaced whole or left
// as it was, and no temporary file outlives a save.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/portable.h"
#include "tests/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

typedef std::vector<std::string> Names;

class SafeSaving : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::string target_ = folder_.Path("photo.jpg");
};

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
  EXPECT_EQ(Names{"photo.jpg"}, folder_.Names());
}

TEST_F(SafeSaving, NewTargetsAreCreated) {
  SafeSave save;
  ASSERT_EQ(1, PlatformBeginSafeSave(target_.c_str(), &save));
  WriteWholeFile(save.temp, "fresh");
  ASSERT_EQ(1, PlatformFinishSafeSave(&save));
  EXPECT_EQ("fresh", ReadWholeFile(target_));
  EXPECT_EQ(Names{"photo.jpg"}, folder_.Names());
}

TEST_F(SafeSaving, AbandonLeavesTheTargetAsItWas) {
  WriteWholeFile(target_, "old");
  SafeSave save;
  ASSERT_EQ(1, PlatformBeginSafeSave(target_.c_str(), &save));
  WriteWholeFile(save.temp, "half writ");
  PlatformAbandonSafeSave(&save);
  EXPECT_EQ("old", ReadWholeFile(target_));
  EXPECT_EQ(Names{"photo.jpg"}, folder_.Names());
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
  EXPECT_EQ(Names{"album.jpg"}, folder_.Names());
}

#ifdef _WIN32
TEST_F(SafeSaving, ReadOnlyTargetsAreNotReplaced) {
  WriteWholeFile(target_, "keep me");
  ASSERT_TRUE(SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  SafeSave save;
  ASSERT_EQ(1, PlatformBeginSafeSave(target_.c_str(), &save));
  WriteWholeFile(save.temp, "new");
  EXPECT_EQ(0, PlatformFinishSafeSave(&save));
  EXPECT_EQ("keep me", ReadWholeFile(target_));
  EXPECT_EQ(Names{"photo.jpg"}, folder_.Names());
  SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(SafeSaving, DriveRelativeNamesKeepTheFreshFileBesideTheTarget) {
  // "C:photo.jpg" names a file in drive C's current folder.
  std::string drive = folder_.path().substr(0, 2);
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.path().c_str()));
  std::string relative = drive + "photo.jpg";
  SafeSave save;
  ASSERT_EQ(1, PlatformBeginSafeSave(relative.c_str(), &save));
  WriteWholeFile(save.temp, "here");
  EXPECT_EQ(1, PlatformFinishSafeSave(&save));
  SetCurrentDirectoryA(previous);
  EXPECT_EQ("here", ReadWholeFile(target_));
  EXPECT_EQ(Names{"photo.jpg"}, folder_.Names());
}
#endif

}  // namespace
