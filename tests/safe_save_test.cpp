// The platform's file services on their own: a whole file read into memory
// byte for byte, and the safe save, which replaces the target whole or leaves
// it as it was, with no temporary file outliving it.
#include <gtest/gtest.h>
#include <stdlib.h>

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

// Binary bytes come back untouched: no line end turned, nothing cut at a NUL
// or at Windows' end-of-text mark. What is not a file says why.
TEST(ReadWholeFile, GivesTheBytesOrWhyNot) {
  TempFolder folder;
  const std::string kBytes("\xff\xd8\r\n\0\x1a\n", 7);
  WriteWholeFile(folder.Path("photo.jpg"), kBytes);
  WriteWholeFile(folder.Path("empty.jpg"), "");
  ASSERT_TRUE(MakeTestFolder(folder.Path("album")));
  struct {
    const char *name;
    FileReadError error;
    std::string bytes;
  } cases[] = {{"photo.jpg", kFileReadOk, kBytes},
               {"empty.jpg", kFileReadOk, ""},
               {"missing.jpg", kFileMissing, ""},
               {"none/photo.jpg", kFileMissing, ""},
               {"album", kFileIsFolder, ""}};
  for (const auto &c : cases) {
    size_t size = 99;
    FileReadError error = kFileReadFailed;
    unsigned char *block =
        PlatformReadWholeFile(folder.Path(c.name).c_str(), &size, &error);
    EXPECT_EQ(c.error, error) << c.name;
    EXPECT_EQ(c.error == kFileReadOk, block != nullptr) << c.name;
    std::string bytes = block ? std::string((char *)block, size) : "";
    EXPECT_EQ(c.bytes, bytes) << c.name;
    EXPECT_EQ(c.bytes.size(), size) << c.name;  // 0 on failure too
    free(block);
  }
}

}  // namespace
