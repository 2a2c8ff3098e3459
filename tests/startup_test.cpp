#include "app/startup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "lib/paths.h"
#include "tests/texts.h"

namespace {

std::string Folder(const char *path) { return Own(FolderOfPath(path)); }

TEST(FolderOfPath, WindowsAndPosixPaths) {
  EXPECT_EQ("C:\\Tools", Folder("C:\\Tools\\Orvane.exe"));
  EXPECT_EQ("C:\\", Folder("C:\\Orvane.exe"));
  EXPECT_EQ("C:/a", Folder("C:/a//Orvane.exe"));
  EXPECT_EQ("\\\\server\\share", Folder("\\\\server\\share\\Orvane.exe"));
  EXPECT_EQ("/usr/bin", Folder("/usr/bin/orvane"));
  EXPECT_EQ("/usr/bin", Folder("/usr//bin///orvane"));
  EXPECT_EQ("a", Folder("a/b/"));
  EXPECT_EQ("/", Folder("/orvane"));
  EXPECT_EQ("/", Folder("///orvane"));
  EXPECT_EQ("/", Folder("/"));
  EXPECT_EQ("//", Folder("//orvane"));
  EXPECT_EQ("a\\b", Folder("a\\/b\\c"));
  EXPECT_EQ(".", Folder("orvane"));
  EXPECT_EQ(".", Folder(""));
  EXPECT_EQ(".", Folder("C:orvane.exe"));
}

TEST(ProgramDir, IsTheFolderOfThisTestProgram) {
  std::string folder = Own(ProgramDir());
  EXPECT_EQ('/', folder[0]);
  EXPECT_NE(std::string::npos, folder.find("tests"));
}

}  // namespace
