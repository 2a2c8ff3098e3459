#include "app/messages.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/process.h"
#include "lib/strings.h"
#include "orvane_version.h"

namespace {

// The caption the build declares: "Orvane Ver 1.12".
const std::string kCaption = ORVANE_PROGRAM_NAME " Ver " ORVANE_VERSION_TEXT;

class Messages : public ::testing::Test {
 protected:
  void SetUp() override { memcpy(saved_, VersionText, sizeof saved_); }
  void TearDown() override { memcpy(VersionText, saved_, sizeof saved_); }
  char saved_[sizeof VersionText];
};

std::string Formatted(const char *format, ...) {
  char buffer[kMessageBufferSize];
  va_list values;
  va_start(values, format);
  FormatMessageText(buffer, format, values);
  va_end(values);
  return buffer;
}

TEST_F(Messages, CaptionNamesProgramAndVersion) {
  EXPECT_EQ(kCaption, AppTitle());
  snprintf(VersionText, sizeof VersionText, "2.05");
  EXPECT_STREQ("Orvane Ver 2.05", AppTitle());
}

TEST_F(Messages, LongTextsAreCutWithAMarker) {
  std::string t499(499, 'x'), t500(500, 'y'), t2000(2000, 'z');
  EXPECT_EQ(t499, Formatted("%s", t499.c_str()));
  EXPECT_EQ(std::string(496, 'y') + " ...", Formatted("%s", t500.c_str()));
  EXPECT_EQ(std::string(496, 'z') + " ...", Formatted("%s", t2000.c_str()));
  EXPECT_EQ("", Formatted("%s", ""));
  EXPECT_EQ("Can't open a.jpg", Formatted("Can't open %s", "a.jpg"));
}

TEST_F(Messages, InformationBoxPrintsCaptionThenText) {
  testing::internal::CaptureStdout();
  InfoBox("hello");
  InfoBoxF("%d lines\n", 2);
  InfoBox("");
  EXPECT_EQ(kCaption + "\nhello\n" + kCaption + "\n2 lines\n" + kCaption +
                "\n\n",
            testing::internal::GetCapturedStdout());
}

TEST_F(Messages, UsageTextListsOptionsAndEndsInLineFeed) {
  std::string usage = UsageText;
  EXPECT_EQ(0u, usage.find("Usage:\nOrvane [opt(s)] filename.jpg\n\nopt(s):\n"
                           "[-c x y w h] crop"));
  EXPECT_NE(std::string::npos, usage.find("(default 100): 1 to 100 for every format"));
  EXPECT_NE(std::string::npos, usage.find("rotate counter-clockwise"));
  EXPECT_NE(std::string::npos,
            usage.find("Orvane replaces the photo unless -o is given."));
  for (const char *special : {"-?", "-help", "-ver"})
    EXPECT_NE(std::string::npos, usage.find(std::string(" ") + special + " "))
        << special;
  EXPECT_EQ('\n', usage.back());
  EXPECT_NE(std::string::npos,
            usage.find("\nFreeImage is used under the FIPL, version 1.0.\n"));
}

TEST_F(Messages, VersionBoxShowsBuildStamp) {
  testing::internal::CaptureStdout();
  ShowVersion();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos,
            out.find(std::string("\n\nBuild date:\t") + BuildDate +
                     "\nBuild time:\t" + BuildTime + "\n"));
  EXPECT_EQ(0u, out.find(kCaption + "\nCopyright"));
}

TEST_F(Messages, ErrorExitShowsWarningAndEndsWithStatusOne) {
  EXPECT_EXIT(ErrorExitF("Can't open %s", "x.jpg"),
              testing::ExitedWithCode(1),
              "^" + kCaption + ": Can't open x.jpg\n$");
  std::string long_name(3000, 'n');
  EXPECT_EXIT(ErrorExitF("Can't open %s", long_name.c_str()),
              testing::ExitedWithCode(1), "Can't open n+ \\.\\.\\.\n$");
}

TEST_F(Messages, AllocationFailureIsFatal) {
  EXPECT_EXIT(AllocOrDie((size_t)-1 / 2), testing::ExitedWithCode(1),
              "Out of memory");
}

// Each routine has its own fixed words for running out of memory; a size
// whose bytes do not even fit in size_t counts as running out.
TEST_F(Messages, AllocationsThatCannotBeMadeEndWithTheCallersMessage) {
  const size_t half = (size_t)-1 / 2;
  EXPECT_EXIT(ReallocOrExit(nullptr, half, 4, "out of memory"),
              testing::ExitedWithCode(1),
              "^" + kCaption + ": out of memory\n$");
  EXPECT_EXIT(ReallocOrExit(nullptr, half, 1, "ReadAll: Out of memory"),
              testing::ExitedWithCode(1), "ReadAll: Out of memory");
  void *empty = ReallocOrExit(nullptr, 0, 8, "out of memory");
  EXPECT_NE(nullptr, empty);  // nothing asked for is no failure
  free(empty);
}

}  // namespace
