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
  // The fresh file sits beside it, named only where the system can't make
  // it unnamed (Windows); on Linux a kill leaves nothing (posix_test).
  EXPECT_GE(2u, folder_.Names().size());
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

// One file however it is spelt: through "..", and on Windows in another
// letter case; -o's folder rule stands on this.
TEST_F(SafeSaving, SameFileIsToldByIdentityNotSpelling) {
  WriteWholeFile(target_, "x");
  WriteWholeFile(folder_.Path("other.jpg"), "x");
  ASSERT_TRUE(MakeTestFolder(folder_.Path("sub")));
  auto same = [&](const char *name) {
    return PlatformSameFile(folder_.Path(name).c_str(), target_.c_str());
  };
  EXPECT_EQ(1, same("sub/../photo.jpg"));
  EXPECT_EQ(kPathSeparator == '\\' ? 1 : 0, same("PHOTO.JPG"));
  EXPECT_EQ(0, same("other.jpg"));
  EXPECT_EQ(0, same("none.jpg"));
}

// Binary bytes come back untouched: no line end turned, nothing cut at a NUL
// or at Windows' end-of-text mark, whether read (small) or mapped (large).
// What is not a file says why.
TEST(MapFile, GivesTheBytesOrWhyNot) {
  TempFolder folder;
  const std::string kBytes("\xff\xd8\r\n\0\x1a\n", 7);
  std::string large(300000, '\0');
  for (size_t i = 0; i < large.size(); i++) large[i] = (char)(i * 7 + i / 251);
  WriteWholeFile(folder.Path("photo.jpg"), kBytes);
  WriteWholeFile(folder.Path("large.jpg"), large);
  WriteWholeFile(folder.Path("empty.jpg"), "");
  ASSERT_TRUE(MakeTestFolder(folder.Path("album")));
  struct {
    const char *name;
    FileReadError error;
    std::string bytes;
  } cases[] = {{"photo.jpg", kFileReadOk, kBytes},
               {"large.jpg", kFileReadOk, large},
               {"empty.jpg", kFileReadOk, ""},
               {"missing.jpg", kFileMissing, ""},
               {"none/photo.jpg", kFileMissing, ""},
               {"album", kFileIsFolder, ""}};
  for (const auto &c : cases) {
    MappedFile file;
    FileReadError error = kFileReadFailed;
    int mapped = PlatformMapFile(folder.Path(c.name).c_str(), &file, &error);
    EXPECT_EQ(c.error, error) << c.name;
    EXPECT_EQ(c.error == kFileReadOk, mapped && file.data != nullptr)
        << c.name;
    std::string bytes = mapped ? std::string((char *)file.data, file.size) : "";
    EXPECT_EQ(c.bytes, bytes) << c.name;
    EXPECT_EQ(c.bytes.size(), file.size) << c.name;  // 0 on failure too
    PlatformLetGoBefore(file.data + file.size);  // still readable after
    EXPECT_EQ(c.bytes, mapped ? std::string((char *)file.data, file.size) : "");
    PlatformUnmapFile(&file);
  }
  // The map is closed: the file can be replaced, on Windows too.
  SafeSave save;
  std::string target = folder.Path("large.jpg");
  ASSERT_EQ(1, PlatformBeginSafeSave(target.c_str(), &save));
  WriteWholeFile(save.temp, "new");
  EXPECT_EQ(1, PlatformFinishSafeSave(&save));
}

}  // namespace
