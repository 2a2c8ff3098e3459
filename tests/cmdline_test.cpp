#include "app/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures.h"

namespace {

using Words = Texts;

TEST(TokenizeCommandLine, QuotingTable) {
  EXPECT_EQ((Words{"Orvane.exe", "-r", "90", "my photo.jpg"}),
            Split("Orvane.exe -r 90 \"my photo.jpg\""));
  EXPECT_EQ((Words{"C:\\Program Files\\Orvane\\Orvane.exe", "-?"}),
            Split("\"C:\\Program Files\\Orvane\\Orvane.exe\" -?"));
  EXPECT_EQ((Words{"a", "b", "c"}), Split("a\tb\r\nc"));
  EXPECT_EQ((Words{"a\"b", "c\"d"}), Split("a\"b c\"d"));
  EXPECT_EQ((Words{"ab", "cd"}), Split("\"ab\"cd"));
  EXPECT_EQ((Words{"say \"hi\""}), Split("\"say \"\"hi\"\"\""));
  EXPECT_EQ((Words{"abc"}), Split("\"abc"));
  EXPECT_EQ((Words{""}), Split("\"\""));
  EXPECT_EQ((Words{"x", ""}), Split("x \""));
  EXPECT_EQ((Words{"C:\\dir\\", "a\\", "b"}), Split("C:\\dir\\ \"a\\\"b"));
  EXPECT_EQ((Words{}), Split("  \t \r\n"));
  EXPECT_EQ((Words{}), Split(""));
  EXPECT_EQ((Words{"a\vb", "\f"}), Split("a\vb \f"));  // not blanks
}

TEST(TokenizeCommandLine, LimitDropsTheRest) {
  std::string line;
  for (int i = 0; i < 35; i++) line += "w" + std::to_string(i) + " ";
  Words words = Split(line);
  ASSERT_EQ(30u, words.size());
  EXPECT_EQ("w29", words.back());
  EXPECT_EQ((Words{}), Split("a b", 0));
  EXPECT_EQ((Words{}), Split("a b", -4));
  EXPECT_EQ((Words{"a"}), Split("a b", 1));
}

struct Vector {
  int count;
  char *entries[8];
};

Vector Make(std::vector<const char *> words) {
  Vector v = {};
  for (const char *w : words) v.entries[v.count++] = (char *)w;
  return v;
}

Words Entries(const Vector &v) {
  EXPECT_EQ(nullptr, v.entries[v.count]);
  return Words(v.entries, v.entries + v.count);
}

TEST(TakeFlag, RemovesFirstWholeMatchIgnoringCase) {
  Vector v = Make({"prog", "-hel", "-help2", "-HELP", "x", "-Help"});
  EXPECT_EQ(1, TakeFlag(&v.count, v.entries, "-help"));
  EXPECT_EQ((Words{"prog", "-hel", "-help2", "x", "-Help"}), Entries(v));
  EXPECT_EQ(1, TakeFlag(&v.count, v.entries, "-help"));
  EXPECT_EQ(0, TakeFlag(&v.count, v.entries, "-help"));
  EXPECT_EQ((Words{"prog", "-hel", "-help2", "x"}), Entries(v));
}

TEST(TakeFlag, LooksAtProgramPathAndEmptyFlag) {
  Vector v = Make({"-?", "a", ""});
  EXPECT_EQ(1, TakeFlag(&v.count, v.entries, "-?"));
  EXPECT_EQ(1, TakeFlag(&v.count, v.entries, ""));
  EXPECT_EQ((Words{"a"}), Entries(v));
  Vector empty = Make({});
  EXPECT_EQ(0, TakeFlag(&empty.count, empty.entries, "-?"));
  EXPECT_EQ(0, empty.count);
}

TEST(TakeOption, ReturnsTextBehindPrefixOrFallback) {
  const char *fallback = "0";
  Vector v = Make({"prog", "-w", "-DBG=3", "-dbg=", "photo.jpg"});
  EXPECT_STREQ("3", TakeOption(&v.count, v.entries, "-dbg=", fallback));
  EXPECT_STREQ("", TakeOption(&v.count, v.entries, "-dbg=", fallback));
  EXPECT_EQ(fallback, TakeOption(&v.count, v.entries, "-dbg=", fallback));
  EXPECT_EQ((Words{"prog", "-w", "photo.jpg"}), Entries(v));
  Vector shorter = Make({"-db"});
  EXPECT_EQ(fallback, TakeOption(&shorter.count, shorter.entries, "-dbg=",
                                 fallback));
  EXPECT_EQ(1, shorter.count);
}

}  // namespace
