#include "lib/stringlist.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "lib/strings.h"
#include "tests/texts.h"

namespace {

StringList ListOf(const Texts &texts) {
  StringList list = StringListNew(0);
  for (const std::string &text : texts) StringListAppend(&list, text.c_str());
  return list;
}

TEST(StringList, NewListsHoldEmptyStrings) {
  StringList none = StringListNew(0);
  StringList negative = StringListNew(-3);
  StringList two = StringListNew(2);
  EXPECT_EQ(0, StringListCount(none));
  EXPECT_EQ(nullptr, none[0]);
  EXPECT_EQ(0, StringListCount(negative));
  EXPECT_EQ((Texts{"", ""}), TextsOf(two));
  StringListFree(none);
  StringListFree(negative);
  StringListFree(two);
}

TEST(StringList, GetAndSetGrowWithEmptyStrings) {
  StringList list = StringListNew(0);
  char *fourth = StringListGet(&list, 3);
  EXPECT_EQ(4, StringListCount(list));
  EXPECT_EQ(list[3], fourth);
  EXPECT_STREQ("", fourth);
  EXPECT_EQ(nullptr, StringListGet(&list, -1));
  StringListFree(list);

  list = ListOf({"a"});
  char *stored = StringListSet(&list, 2, "c");
  EXPECT_EQ(list[2], stored);
  EXPECT_EQ((Texts{"a", "", "c"}), TextsOf(list));
  StringListSet(&list, 0, "x");
  EXPECT_EQ((Texts{"x", "", "c"}), TextsOf(list));
  EXPECT_EQ(nullptr, StringListSet(&list, -1, "y"));
  EXPECT_EQ((Texts{"x", "", "c"}), TextsOf(list));
  StringListFree(list);
}

TEST(StringList, SetAcceptsTheStringItReplaces) {
  StringList list = ListOf({"keep me", "b"});
  StringListSet(&list, 0, list[0]);
  StringListSet(&list, 1, list[0]);
  EXPECT_EQ((Texts{"keep me", "keep me"}), TextsOf(list));
  StringListFree(list);
}

TEST(StringList, InsertAtTheFrontInsideAndPastTheEnd) {
  StringList list = ListOf({"a", "b"});
  EXPECT_STREQ("t", StringListInsert(&list, 0, "t"));
  EXPECT_EQ((Texts{"t", "a", "b"}), TextsOf(list));
  StringListInsert(&list, 1, "u");
  EXPECT_EQ((Texts{"t", "u", "a", "b"}), TextsOf(list));
  StringListFree(list);

  list = ListOf({"a", "b"});
  StringListInsert(&list, 4, "t");
  EXPECT_EQ((Texts{"a", "b", "", "", "t"}), TextsOf(list));
  StringListInsert(&list, 5, "end");
  EXPECT_EQ((Texts{"a", "b", "", "", "t", "end"}), TextsOf(list));
  EXPECT_EQ(nullptr, StringListInsert(&list, -1, "x"));
  EXPECT_EQ(6, StringListCount(list));
  StringListFree(list);
}

TEST(StringList, DeleteClosesTheGapAndIgnoresPositionsOutside) {
  StringList list = ListOf({"a", "b", "c"});
  StringListDelete(&list, 3);
  StringListDelete(&list, 30);
  StringListDelete(&list, -1);
  EXPECT_EQ((Texts{"a", "b", "c"}), TextsOf(list));
  StringListDelete(&list, 2);
  EXPECT_EQ((Texts{"a", "b"}), TextsOf(list));
  StringListDelete(&list, 0);
  EXPECT_EQ((Texts{"b"}), TextsOf(list));
  // The array kept its old size; growing from here must still be exact.
  StringListAppend(&list, "c");
  StringListAppend(&list, "d");
  EXPECT_EQ((Texts{"b", "c", "d"}), TextsOf(list));
  StringListDelete(&list, 0);
  StringListDelete(&list, 0);
  StringListDelete(&list, 0);
  StringListDelete(&list, 0);
  EXPECT_EQ(0, StringListCount(list));
  StringListFree(list);
}

TEST(StringList, ResizeKeepsTheFrontAndReleasesTheRest) {
  StringList list = ListOf({"a", "b", "c"});
  StringListResize(&list, 1);
  EXPECT_EQ((Texts{"a"}), TextsOf(list));
  StringListResize(&list, 3);
  EXPECT_EQ((Texts{"a", "", ""}), TextsOf(list));
  StringListResize(&list, 0);
  EXPECT_EQ(0, StringListCount(list));
  StringListFree(list);
}

TEST(StringList, CopyIsIndependentOfTheOriginal) {
  StringList list = ListOf({"a", "b"});
  StringList copy = StringListCopy(list);
  StringListSet(&list, 0, "changed");
  StringListFree(list);
  EXPECT_EQ((Texts{"a", "b"}), TextsOf(copy));
  StringListFree(copy);
  StringList empty = StringListNew(0);
  StringList empty_copy = StringListCopy(empty);
  EXPECT_EQ(0, StringListCount(empty_copy));
  StringListFree(empty);
  StringListFree(empty_copy);
}

TEST(FreeStrings, ReleaseEveryStringButNotTheArray) {
  char *strings[] = {StrDup("a"), StrDup("b"), nullptr};
  FreeStrings(strings);
  char *sparse[] = {StrDup("a"), nullptr, StrDup("c"), StrDup("not freed")};
  FreeStringsN(3, sparse);
  EXPECT_STREQ("not freed", sparse[3]);
  free(sparse[3]);
}

// Splits a copy of text and returns the words.
Texts Split(char separator, const char *text, int max) {
  std::vector<char> buffer(text, text + strlen(text) + 1);
  std::vector<char *> words(max > 0 ? max + 1 : 1, (char *)"unset");
  int count = SplitAt(separator, buffer.data(), max, words.data());
  EXPECT_EQ(nullptr, words[count]);
  return Texts(words.begin(), words.begin() + count);
}

TEST(SplitWords, BlanksSeparateOnceAndQuotesHoldBlanks) {
  EXPECT_EQ((Texts{"one", "two"}), Split(' ', "one  two", 10));
  EXPECT_EQ((Texts{"one", "two"}), Split(' ', "  one two  ", 10));
  EXPECT_EQ((Texts{"a b", "c"}), Split(' ', "\"a b\" c", 10));
  EXPECT_EQ((Texts{"one", "two"}), Split(' ', "one two three", 2));
  EXPECT_EQ((Texts{"a\tb"}), Split(' ', "a\tb", 10));  // a tab is no blank
  EXPECT_EQ((Texts{"x\"y"}), Split(' ', "x\"y", 10));  // quote inside a word
  EXPECT_EQ((Texts{"open quote"}), Split(' ', "\"open quote", 10));
  EXPECT_EQ(Texts{}, Split(' ', "", 10));
  EXPECT_EQ(Texts{}, Split(' ', "    ", 10));
  EXPECT_EQ(Texts{}, Split(' ', "a b", 0));
  EXPECT_EQ(Texts{}, Split(' ', "a b", -1));

  char text[] = "one two";
  char *words[3];
  EXPECT_EQ(2, SplitWords(text, 2, words));
  EXPECT_EQ(text, words[0]);  // words point into the text
  EXPECT_STREQ("two", words[1]);
}

// Lists grown one string at a time: a proper list at every step, whatever
// spare room the builder keeps behind it.
TEST(StringListBuilder, AppendsCopiesInOrder) {
  StringListBuilder builder = StringListBuilderStart();
  EXPECT_EQ(0, StringListCount(builder.list));
  char text[] = "line";
  EXPECT_STREQ("line", StringListBuilderAppend(&builder, text));
  text[0] = 'f';  // the list holds its own copy
  for (int i = 1; i < 5000; i++) StringListBuilderAppend(&builder, "x");
  EXPECT_EQ(5000, builder.count);
  EXPECT_EQ(5000, StringListCount(builder.list));
  EXPECT_STREQ("line", builder.list[0]);
  EXPECT_STREQ("x", builder.list[4999]);
  StringListAppend(&builder.list, "after");  // the usual routines still work
  EXPECT_EQ(5001, StringListCount(builder.list));
  StringListFree(builder.list);
}

TEST(SplitAt, EveryPairOfSeparatorsHoldsAWord) {
  EXPECT_EQ((Texts{"a", "", "b"}), Split(',', "a,,b", 10));
  EXPECT_EQ((Texts{"", "a"}), Split(',', ",a", 10));
  EXPECT_EQ((Texts{"a", "b"}), Split(',', "a,b,", 10));
  EXPECT_EQ((Texts{"x,y", "", "rest"}), Split(',', "\"x,y\",rest", 10));
  EXPECT_EQ((Texts{"a ", "b"}), Split(',', " a , b", 10));  // not trimmed
  EXPECT_EQ((Texts{"a", "b"}), Split(',', "a,b,c", 2));
  // The terminator as separator: the rest of the text is one word, and the
  // scan never passes the end of the text.
  EXPECT_EQ((Texts{"a,b c"}), Split('\0', "  a,b c", 10));
  EXPECT_EQ((Texts{"q"}), Split('\0', "\"q\"", 10));
}

TEST(FindKeyValue, MatchesKeyEqualsValueLines) {
  const char *lines[] = {"# Size=1", "Size =2", "\t SIZE=  12 ",
                         "Size=3",   "Sizes=4", nullptr};
  EXPECT_STREQ("12 ", FindKeyValue("size", 5, lines));
  EXPECT_EQ(nullptr, FindKeyValue("size", 2, lines));  // only the first two
  EXPECT_STREQ("4", FindKeyValue("sizes", 5, lines));
  EXPECT_EQ(nullptr, FindKeyValue("Siz", 5, lines));
  EXPECT_EQ(nullptr, FindKeyValue("width", 5, lines));
  EXPECT_EQ(nullptr, FindKeyValue("size", 0, lines));
  EXPECT_EQ(nullptr, FindKeyValue("size", -4, lines));
  const char *bare[] = {"Size", "Size="};
  EXPECT_STREQ("", FindKeyValue("size", 2, bare));
  EXPECT_EQ(lines[2] + 9, FindKeyValue("size", 5, lines));  // into the line
}

}  // namespace
