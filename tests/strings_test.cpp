#include "lib/strings.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "lib/paths.h"
#include "platform/platform.h"
#include "tests/texts.h"

namespace {

TEST(StrICmp, FoldsOnlyLettersAndOrdersPrefixesByNextCharacter) {
  EXPECT_EQ(0, StrICmp("PhOtO.JpG", "photo.jpg"));
  EXPECT_EQ(0, StrICmp("", ""));
  EXPECT_EQ(-1, StrICmp("abc", "abd"));
  EXPECT_EQ(1, StrICmp("abd", "abc"));
  EXPECT_EQ(-100, StrICmp("abc", "abcd"));
  EXPECT_EQ(100, StrICmp("abcd", "ABC"));
  EXPECT_EQ(-65, StrICmp("", "A"));
  EXPECT_EQ(-1, StrICmp("\x80", "a"));
  EXPECT_EQ(-1, StrICmp("_", "A"));  // compared as "a", after folding
  EXPECT_EQ(0, StrNICmp("-DBG=3", "-dbg=", 5));
  EXPECT_NE(0, StrNICmp("-db", "-dbg=", 5));
}

TEST(NewStrings, DuplicateAndConcatenate) {
  EXPECT_EQ("abc", Own(StrDup("abc")));
  EXPECT_EQ("", Own(StrDup("")));
  EXPECT_EQ("Orvane.log", Own(Concat2("Orvane", ".log")));
  EXPECT_EQ("abc", Own(Concat3("a", "b", "c")));
  EXPECT_EQ("a-b-c", Own(Concat5("a", "-", "b", "-", "c")));
  EXPECT_EQ("\"x y\"", Own(Quote("x y")));
  EXPECT_EQ("\"\"", Own(Quote("")));
}

// The separator is the platform's: "/" on POSIX, "\\" on Windows.
std::string Joined(const char *folder, const char *name) {
  return std::string(folder) + kPathSeparator + name;
}

TEST(PathJoin, AddsSeparatorOnlyWhenNeeded) {
  const char ends_in_separator[] = {'t', 'm', 'p', kPathSeparator, '\0'};
  EXPECT_EQ("photo.jpg", Own(PathJoin("", "photo.jpg")));
  EXPECT_EQ(Joined("tmp", "Orvane.log"), Own(PathJoin("tmp", "Orvane.log")));
  EXPECT_EQ(Joined("tmp", "Orvane.log"),
            Own(PathJoin(ends_in_separator, "Orvane.log")));
}

TEST(PathJoinInto, FitsExactlyOrLeavesBufferAlone) {
  char buffer[16] = "untouched";
  EXPECT_EQ(0, PathJoinInto(7, buffer, "abc", "def"));  // 7 characters
  EXPECT_STREQ("untouched", buffer);
  EXPECT_EQ(1, PathJoinInto(8, buffer, "abc", "def"));
  EXPECT_EQ(Joined("abc", "def"), buffer);
  EXPECT_EQ(1, PathJoinInto(4, buffer, "", "xyz"));
  EXPECT_STREQ("xyz", buffer);
  EXPECT_EQ(0, PathJoinInto(0, buffer, "", ""));
}

TEST(ReplaceAll, ReplacesLeftToRightWithoutOverlap) {
  EXPECT_EQ("ba", Own(ReplaceAll("aaa", "aa", "b")));
  EXPECT_EQ("x-y-z", Own(ReplaceAll("x, y, z", ", ", "-")));
  EXPECT_EQ("same", Own(ReplaceAll("same", "q", "r")));
  EXPECT_EQ("bcb", Own(ReplaceAll("abcab", "a", nullptr)));
  EXPECT_EQ("<NULL>", Own(ReplaceAll(nullptr, "a", "b")));
  EXPECT_EQ("a a", Own(ReplaceAll("a a", "", "x")));
  EXPECT_EQ("a a", Own(ReplaceAll("a a", nullptr, "x")));
  EXPECT_EQ("%%s%%", Own(ReplaceAll("%s%", "%", "%%")));
}

TEST(StrAssign, ReplacesSlotEvenWithItsOwnText) {
  char *slot = nullptr;
  StrAssign(&slot, "first");
  EXPECT_STREQ("first", slot);
  StrAssign(&slot, slot);
  EXPECT_STREQ("first", slot);
  EXPECT_EQ(slot, StrAssign(&slot, "second"));
  EXPECT_STREQ("second", slot);
  free(slot);
}

// What the shell or a caller was given must outlive later calls: the help
// page's path was once freed when the page was opened a second time.
TEST(KeepForRun, KeptTextsStayValidWhileMoreAreKept) {
  const char *first = KeepForRun(StrDup("page one"));
  std::vector<const char *> later;
  for (int i = 0; i < 1000; i++) later.push_back(KeepForRun(StrDup("more")));
  EXPECT_STREQ("page one", first);
  EXPECT_STREQ("more", later.back());
}

TEST(JoinWithBlanks, PrecedesEveryWordWithABlank) {
  const char *words[] = {"one", "two"};
  EXPECT_EQ(" one two", Own(JoinWithBlanks(2, words)));
  EXPECT_EQ(" one", Own(JoinWithBlanks(1, words)));
  EXPECT_EQ("", Own(JoinWithBlanks(0, words)));
  EXPECT_EQ("", Own(JoinWithBlanks(-1, words)));
}

TEST(SubString, CopiesAtMostMaxFromStart) {
  EXPECT_EQ("cde", Own(SubString("abcdef", 2, 3)));
  EXPECT_EQ("abcdef", Own(SubString("abcdef", 0, 100)));
  EXPECT_EQ("", Own(SubString("abc", 3, 2)));
  EXPECT_EQ("", Own(SubString("abc", 9, 2)));
  EXPECT_EQ("", Own(SubString("abc", 0, 0)));
}

// Found by fuzzing: a negative max asked for a block of no bytes and wrote
// past it; a huge max asked for gigabytes.
TEST(SubString, NegativeOrHugeBoundsAreSafe) {
  EXPECT_EQ("", Own(SubString("abc", 0, -1)));
  EXPECT_EQ("", Own(SubString("abc", 1, INT_MIN)));
  EXPECT_EQ("", Own(SubString("abc", -1, 2)));
  EXPECT_EQ("", Own(SubString("abc", INT_MIN, 2)));
  EXPECT_EQ("bc", Own(SubString("abc", 1, INT_MAX)));
}

TEST(Unquote, DropsEachQuoteOnItsOwn) {
  EXPECT_EQ("a b", Own(Unquote("\"a b\"")));
  EXPECT_EQ("a", Own(Unquote("\"a")));
  EXPECT_EQ("a", Own(Unquote("a\"")));
  EXPECT_EQ("", Own(Unquote("\"")));
  EXPECT_EQ("", Own(Unquote("")));
  EXPECT_EQ("a\"b", Own(Unquote("a\"b")));
}

TEST(StrCopyMax, CopiesAtMostN) {
  char buffer[8] = "zzzzzzz";
  EXPECT_STREQ("abc", StrCopyMax(buffer, "abcdef", 3));
  EXPECT_STREQ("ab", StrCopyMax(buffer, "ab", 6));
  EXPECT_STREQ("", StrCopyMax(buffer, "ab", 0));
  EXPECT_STREQ("", StrCopyMax(buffer, "ab", -2));
}

TEST(InPlace, LineEndsAndBlanks) {
  char a[] = "line\r\n";
  EXPECT_STREQ("line\r", ChopNewline(a));
  char b[] = "line\n\n";
  EXPECT_STREQ("line\n", ChopNewline(b));
  char c[] = "a\r\nb\r\n";
  EXPECT_STREQ("a  b", FlattenLineEnds(c));
  char d[] = "\n\r";
  EXPECT_STREQ("", FlattenLineEnds(d));
  char e[] = " x \t  ";
  EXPECT_STREQ(" x \t", TrimTrailingBlanks(e));
  EXPECT_STREQ("x\t", SkipBlanks(" \t x\t"));
  EXPECT_STREQ("", SkipBlanks(" \t"));
  EXPECT_EQ(1, IsBlankText(""));
  EXPECT_EQ(1, IsBlankText(" \t "));
  EXPECT_EQ(0, IsBlankText(" \n"));
}

TEST(LooksLikeInteger, NeedsADigitAfterBlanksAndSign) {
  for (const char *yes : {"12abc", "-7x", "  +0"})
    EXPECT_EQ(1, LooksLikeInteger(yes)) << yes;
  for (const char *no : {"", "-", "\t5", "--5"})
    EXPECT_EQ(0, LooksLikeInteger(no)) << no;
}

TEST(IsNumberText, AcceptsDecimalNumberShapes) {
  for (const char *yes : {"5.", ".5", "+.5e-3", "1e", "12-3", "  42  ", "-0",
                          "3E+7", "7e5"})
    EXPECT_EQ(1, IsNumberText(yes)) << yes;
  for (const char *no : {".", "1.2.3", "\t1", "e5", "", " ", "+", "1x",
                         "1 2", "1e5e"})
    EXPECT_EQ(0, IsNumberText(no)) << no;
}

// Angles: the same value from every C library, which disagree on all but
// plain decimals.
TEST(DecimalValue, ReadsPlainDecimalsOnly) {
  struct Case {
    const char *text;
    double value;
  } cases[] = {
      {"90", 90},       {" \t-45.5", -45.5}, {"+.5e1", 5},    {"1e", 1},
      {"5.", 5},        {"12-3", 12},        {"3E+2x", 300},  {"0x10", 0},
      {"0X1p4", 0},     {"abc", 0},          {"", 0},         {".", 0},
      {"-", 0},         {"e5", 0},           {"1e-400", 0},   {"0.1", 0.1},
      {"1.5e-3", 0.0015}, {"2e+", 2},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.value, DecimalValue(c.text)) << c.text;
}

TEST(DecimalValue, NamedAndOverflowingValuesAreNotFinite) {
  for (const char *text : {"inf", "INFINITY", "+Inf", "1e400", " 9e99999"})
    EXPECT_EQ(HUGE_VAL, DecimalValue(text)) << text;
  for (const char *text : {"-inf", "-1e400"})
    EXPECT_EQ(-HUGE_VAL, DecimalValue(text)) << text;
  for (const char *text : {"nan", "-NaN", "nan(12)"})
    EXPECT_TRUE(isnan(DecimalValue(text))) << text;
}

// Memory limits: decimal units, as the program's own MB figures count.
TEST(ByteCountValue, ReadsDigitsAndOneDecimalUnit) {
  struct Case {
    const char *text;
    int read;
    uint64_t bytes;
  } cases[] = {
      {"500000", 1, 500000},  {"100M", 1, 100000000}, {"100mb", 1, 100000000},
      {"2G", 1, 2000000000},  {"64k", 1, 64000},      {"0", 1, 0},
      {"18446744073709551615", 1, UINT64_MAX},
      {"18446744073709551616", 0, 0},                 {"18446744074G", 0, 0},
      {"100 ", 0, 0},         {" 100", 0, 0},          {"-1M", 0, 0},
      {"1.5G", 0, 0},         {"100MiB", 0, 0},        {"100B", 0, 0},
      {"100T", 0, 0},         {"M", 0, 0},             {"", 0, 0},
  };
  for (const Case &c : cases) {
    uint64_t bytes = 7;
    EXPECT_EQ(c.read, ByteCountValue(c.text, &bytes)) << c.text;
    EXPECT_EQ(c.read ? c.bytes : 7, bytes) << c.text;
  }
}

}  // namespace
