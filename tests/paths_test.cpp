#include "lib/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lib/strings.h"
#include "platform/platform.h"
#include "tests/fixtures.h"
#include "tests/portable.h"
#include "tests/temp_folder.h"
#include "tests/texts.h"

namespace {

// Takes a listing over and returns its names sorted, since the system
// delivers them in no fixed order.
Texts Sorted(StringList list) {
  Texts names = TextsOf(list);
  StringListFree(list);
  std::sort(names.begin(), names.end());
  return names;
}

const std::string kSep(1, kPathSeparator);
const std::string kOtherSep(1, kPathSeparator == '/' ? '\\' : '/');

TEST(ChangeExtension, ReplacesOrAppendsInTheLastComponentOnly) {
  EXPECT_EQ("photo.bmp", Own(ChangeExtension("photo.jpg", ".bmp")));
  EXPECT_EQ("photo.bmp", Own(ChangeExtension("photo", ".bmp")));
  EXPECT_EQ("photo.bmp", Own(ChangeExtension("photo.", ".bmp")));
  EXPECT_EQ("x.tar.bmp", Own(ChangeExtension("x.tar.gz", ".bmp")));
  EXPECT_EQ("a.b" + kSep + "photo.bmp",
            Own(ChangeExtension(("a.b" + kSep + "photo").c_str(), ".bmp")));
  EXPECT_EQ("photo", Own(ChangeExtension("photo.jpg", "")));
  // The other system's separator is an ordinary character.
  EXPECT_EQ("a.bmp", Own(ChangeExtension(("a.b" + kOtherSep + "photo").c_str(),
                                         ".bmp")));
}

typedef InTempFolder MakeFolders_;

TEST_F(MakeFolders_, CreatesEveryFolderOnThePathOutermostFirst) {
  EXPECT_EQ(1, MakeFolders("a/b/c"));
  EXPECT_TRUE(IsFolder("a/b/c"));
  EXPECT_EQ(1, MakeFolders("a/b/c"));  // already there
  EXPECT_EQ(1, MakeFolders("a/x/"));
  EXPECT_TRUE(IsFolder("a/x"));
  EXPECT_EQ(1, MakeFolders((folder_.path() + "/abs/olute").c_str()));
  EXPECT_TRUE(IsFolder("abs/olute"));
}

TEST_F(MakeFolders_, SplitsAtTheLastForwardSlashBeforeAnyBackslash) {
  EXPECT_EQ(1, MakeFolders("m/n\\o"));
  EXPECT_TRUE(IsFolder("m"));
  if (kPathSeparator == '/') {
    EXPECT_TRUE(IsFolder("m/n\\o"));  // one name here, as the rule says
    EXPECT_EQ(1, MakeFolders("p\\q"));
    EXPECT_TRUE(IsFolder("p"));
    EXPECT_TRUE(IsFolder("p\\q"));
  }
}

TEST_F(MakeFolders_, SpecialNamesCreateNothing) {
  EXPECT_EQ(0, MakeFolders(nullptr));
  for (const char *name : {"", ".", "..", "/", "\\", "C:", "C:\\"})
    EXPECT_EQ(0, MakeFolders(name)) << name;
  EXPECT_EQ(Texts{}, folder_.Names());
  EXPECT_EQ(1, MakeFolders("d"));
  EXPECT_EQ(Texts{"d"}, folder_.Names());
}

TEST_F(Files, ReadAllGivesTheWholeText) {
  std::string text(100000, 'x');
  text += "\nlast line";
  WriteWholeFile("big.txt", text);
  WriteWholeFile("empty.txt", "");
  EXPECT_EQ(text, Own(ReadAll("big.txt")));
  EXPECT_EQ("", Own(ReadAll("empty.txt")));
}

TEST_F(Files, ReadAllEndsTheProgramForWhatHasNoSize) {
  ASSERT_TRUE(MakeTestFolder("folder"));
  EXPECT_EXIT(ReadAll("missing.txt"), testing::ExitedWithCode(1),
              "Can't read file: missing.txt");
  EXPECT_EXIT(ReadAll("folder"), testing::ExitedWithCode(1),
              "Can't read file: folder");
}

TEST_F(Files, FileExistsForReadableFilesOnly) {
  WriteWholeFile("here.txt", "x");
  ASSERT_TRUE(MakeTestFolder("folder"));
  EXPECT_EQ(1, FileExists("here.txt"));
  EXPECT_EQ(0, FileExists("missing.txt"));
  EXPECT_EQ(0, FileExists("folder"));
}

TEST_F(Files, CopyTextFileReplacesTheTarget) {
  WriteWholeFile("source.txt", "new\ntext\n");
  WriteWholeFile("target.txt", "a much longer old text\n");
  EXPECT_EQ(1, CopyTextFile("source.txt", "target.txt"));
  EXPECT_EQ("new\ntext\n", ReadTextFile("target.txt"));
  EXPECT_EQ(1, CopyTextFile("source.txt", "fresh.txt"));
  EXPECT_EQ("new\ntext\n", ReadTextFile("fresh.txt"));
  EXPECT_EQ(1, CopyTextFile("source.txt", "source.txt"));  // onto itself
  EXPECT_EQ("new\ntext\n", ReadTextFile("source.txt"));
  EXPECT_EQ((Texts{"fresh.txt", "source.txt", "target.txt"}), folder_.Names());
}

TEST_F(Files, CopyTextFileFailuresEndTheProgramAndKeepTheTarget) {
  WriteWholeFile("source.txt", std::string(64 * 1024, 's'));
  WriteWholeFile("target.txt", "old");
  EXPECT_EXIT(CopyTextFile("missing.txt", "target.txt"),
              testing::ExitedWithCode(1), "Can't open missing.txt");
  EXPECT_EXIT(CopyTextFile("source.txt", "no/such/folder.txt"),
              testing::ExitedWithCode(1), "Can't create no/such/folder.txt");
  EXPECT_EQ("old", ReadWholeFile("target.txt"));
  EXPECT_EQ((Texts{"source.txt", "target.txt"}), folder_.Names());
}

typedef InTempFolder Listing;

TEST_F(Listing, MatchesNamesAsWindowsDoes) {
  for (const char *name : {"a.jpg", "B.JPG", "c.png", "noext", "ab.jpg.bak"})
    WriteWholeFile(name, "");
  ASSERT_TRUE(MakeTestFolder("sub"));
  ASSERT_TRUE(MakeTestFolder("sub.d"));
  ASSERT_TRUE(MakeFolderLink("sub", "link"));

  Texts all_files{"B.JPG", "a.jpg", "ab.jpg.bak", "c.png", "noext"};
  EXPECT_EQ(all_files, Sorted(ListFiles(".", "")));
  EXPECT_EQ(all_files, Sorted(ListFiles(".", "*.*")));
  EXPECT_EQ(all_files, Sorted(ListFiles(".", "*")));
  EXPECT_EQ((Texts{"B.JPG", "a.jpg"}), Sorted(ListFiles(".", "*.jpg")));
  EXPECT_EQ((Texts{"B.JPG", "a.jpg"}), Sorted(ListFiles(".", "?.JpG")));
  EXPECT_EQ((Texts{"ab.jpg.bak"}), Sorted(ListFiles(".", "*.jpg*.b?k")));
  EXPECT_EQ((Texts{"noext"}), Sorted(ListFiles(".", "noext.*")));
  EXPECT_EQ((Texts{"c.png"}), Sorted(ListFiles(folder_.path().c_str(), "c*")));
  EXPECT_EQ((Texts{"link", "sub", "sub.d"}), Sorted(ListFolders(".", "")));
  EXPECT_EQ((Texts{"sub.d"}), Sorted(ListFolders(".", "*.d")));
  EXPECT_EQ(Texts{}, Sorted(ListFiles(".", "*.gif")));
  EXPECT_EQ(Texts{}, Sorted(ListFiles("missing", "")));
  EXPECT_EQ(Texts{}, Sorted(ListFolders("missing", "*.*")));
}

TEST(CurrentProcessId, IsThisProcess) {
  EXPECT_EQ(ThisProcessId(), CurrentProcessId());
}

class UserData : public ::testing::Test {
 protected:
  void SetUp() override {
    // Windows reads the one, POSIX the other.
    env_.Set("AppData", folder_.Path("roaming"));
    env_.Set("XDG_DATA_HOME", folder_.Path("roaming"));
    MakeTestFolder(folder_.Path("roaming"));
    MakeTestFolder(folder_.Path("defaults"));
    WriteWholeFile(folder_.Path("defaults/settings.ini"), "Width=800\n");
  }
  TempFolder folder_;
  ScopedEnv env_;
};

TEST_F(UserData, AppDataPathNamesMakerAndProgram) {
  EXPECT_EQ(folder_.Path("roaming") + kSep + "Tabrinel" + kSep + "Orvane",
            Own(AppDataPath("Tabrinel", "Orvane")));
  EXPECT_FALSE(IsFolder(folder_.Path("roaming/Tabrinel")));
}

TEST_F(UserData, EnsureUserFileSeedsOnceAndThenKeepsTheUsersCopy) {
  std::string defaults = folder_.Path("defaults");
  std::string copy = Own(
      EnsureUserFile(defaults.c_str(), "Tabrinel", "Orvane", "settings.ini"));
  EXPECT_EQ(folder_.Path("roaming/Tabrinel/Orvane/settings.ini"), copy);
  EXPECT_EQ("Width=800\n", ReadTextFile(copy));
  WriteWholeFile(copy, "Width=1024\n");
  WriteWholeFile(folder_.Path("defaults/settings.ini"), "Width=640\n");
  EXPECT_EQ(copy, Own(EnsureUserFile(defaults.c_str(), "Tabrinel", "Orvane",
                                     "settings.ini")));
  EXPECT_EQ("Width=1024\n", ReadWholeFile(copy));
  EXPECT_EXIT(
      EnsureUserFile(defaults.c_str(), "Tabrinel", "Orvane", "missing.ini"),
      testing::ExitedWithCode(1), "Can't open .*missing.ini");
}

TEST_F(UserData, NoRootEndsTheProgram) {
  env_.Unset("AppData");
  env_.Unset("XDG_DATA_HOME");
  env_.Unset("HOME");
  EXPECT_EXIT(AppDataPath("Tabrinel", "Orvane"), testing::ExitedWithCode(1),
              "The APPDATA environment variable is missing\\.");
  EXPECT_EXIT(EnsureUserFile(".", "Tabrinel", "Orvane", "x.ini"),
              testing::ExitedWithCode(1),
              "The APPDATA environment variable is missing\\.");
}

}  // namespace
