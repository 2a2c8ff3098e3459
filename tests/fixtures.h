// Fixtures and helpers that the portable unit tests share with the ones only
// one system runs (posix_test.cpp, win32_test.cpp).
#ifndef ORVANE_TESTS_FIXTURES_H
#define ORVANE_TESTS_FIXTURES_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "lib/tokenize.h"
#include "log/log.h"
#include "tests/temp_folder.h"
#include "tests/texts.h"

// The words TokenizeCommandLine makes of line, its closing NULL checked.
inline Texts Split(const std::string &line, int limit = 30) {
  char *entries[64];
  int count = TokenizeCommandLine(line.c_str(), limit, entries);
  Texts words(entries, entries + count);
  EXPECT_EQ(nullptr, entries[count]);
  for (int i = 0; i < count; i++) free(entries[i]);
  return words;
}

// Runs each test in a fresh current folder, so names need no folder part.
class InTempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }
  TempFolder folder_;
  std::filesystem::path previous_;
};

typedef InTempFolder Files;

// A log file of the test's own.
class Log : public ::testing::Test {
 protected:
  void SetUp() override { LogSetPath(path_.c_str()); }
  void TearDown() override { LogSetPath(nullptr); }
  // The text as the C library reads it back (line ends translated).
  std::string Contents() { return ReadTextFile(path_); }
  TempFolder folder_;
  std::string path_ = folder_.Path("Orvane.log");
};

// A safe save's target in a folder of the test's own.
class SafeSaving : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::string target_ = folder_.Path("photo.jpg");
};

#endif
