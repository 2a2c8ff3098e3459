#include "log/log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <string>

#include "tests/fixtures.h"
#include "tests/temp_folder.h"
#include "tests/texts.h"

namespace {

const char kBanner[] = "\\*\n\\* \\w{3} \\d{2} \\w{3} \\d{4}\n\\*\n";
const char kTime[] = "\\d{2}:\\d{2}:\\d{2} ";

TEST_F(Log, FirstLineOfARunGetsABanner) {
  LogF("Cmdline: %s", "orvane -dbg=1 a.jpg");
  LogF("second %d", 2);
  EXPECT_TRUE(std::regex_match(
      Contents(), std::regex(std::string(kBanner) + kTime +
                             "Cmdline: orvane -dbg=1 a\\.jpg\n" + kTime +
                             "second 2\n")))
      << Contents();
}

TEST_F(Log, SettingThePathAgainStartsANewBanner) {
  LogF("one");
  LogSetPath(path_.c_str());
  LogF("two");
  std::string banner_line = std::string(kBanner) + kTime;
  EXPECT_TRUE(std::regex_match(
      Contents(), std::regex(banner_line + "one\n" + banner_line + "two\n")));
}

TEST_F(Log, RawLinesAndArguments) {
  LogRawF("raw %s", "line");
  const char *args[] = {"a", "b c", "%s"};
  LogArgs("Args:", 3, args);
  LogArgs("None:", 0, args);
  EXPECT_TRUE(std::regex_match(
      Contents(), std::regex(std::string("raw line\n") + kBanner + kTime +
                             "Args: a b c %s\n" + kTime + "None:\n")));
}

TEST_F(Log, LongTextsAreCutToTheLineBuffer) {
  std::string long_text(5000, 'x');
  LogF("%s", long_text.c_str());
  LogRawF("%s", long_text.c_str());
  std::string contents = Contents();
  size_t entry = contents.find(" xxx");
  ASSERT_NE(std::string::npos, entry);
  EXPECT_EQ(512u, contents.find('\n', entry) - (entry - 8));
  EXPECT_EQ(std::string(512, 'x') + "\n",
            contents.substr(contents.size() - 513));
}

TEST_F(Log, NoPathOrMissingFolderWritesNothing) {
  LogSetPath(nullptr);
  EXPECT_EQ(0, LogF("lost"));
  std::string missing = folder_.Path("none/Orvane.log");
  LogSetPath(missing.c_str());
  EXPECT_EQ(0, LogF("lost"));
  EXPECT_EQ(Texts{}, folder_.Names());
}

// A caller may hold the path LogInTemp handed out after the log has moved on;
// it once pointed at freed memory then.
TEST(LogInTemp, HandedOutPathStaysValidAfterAnotherIsSet) {
  const char *first = LogInTemp("first.log");
  std::string expected = first;
  LogSetPath("elsewhere.log");
  const char *second = LogInTemp("second.log");
  LogSetPath(second);
  LogSetPath(nullptr);
  EXPECT_EQ(expected, first);
  EXPECT_NE(std::string::npos, std::string(second).find("second.log"));
}

}  // namespace
