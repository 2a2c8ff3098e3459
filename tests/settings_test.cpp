#include "lib/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/temp_folder.h"
#include "tests/texts.h"

namespace {

class Settings : public ::testing::Test {
 protected:
  // The value of key in a file holding text, or "<none>".
  std::string Lookup(const std::string &text, const char *key, int size = 256) {
    WriteWholeFile(path_, text);
    std::vector<char> buffer(size > 0 ? size : 1);
    const char *value = LookupSetting(path_.c_str(), key, size, buffer.data());
    return value != nullptr ? value : "<none>";
  }
  // The lines LoadLines stores for section, checked against its count.
  Texts Section(const std::string &text, const char *section) {
    WriteWholeFile(path_, text);
    StringList lines = nullptr;
    int count = LoadLines(path_.c_str(), section, &lines);
    Texts texts = TextsOf(lines);
    StringListFree(lines);
    EXPECT_EQ((int)texts.size(), count);
    return texts;
  }
  TempFolder folder_;
  std::string path_ = folder_.Path("orvane.ini");
};

TEST_F(Settings, LookupTrimsKeysAndValuesAtTheEndOnly) {
  EXPECT_EQ(" 800", Lookup("  Width = 800\n", "width"));
  EXPECT_EQ("800", Lookup("Width=800", "width"));
  EXPECT_EQ("800", Lookup("\t Width=800   \n", "WIDTH"));
  EXPECT_EQ("a = b #c", Lookup("key=a = b #c\n", "key"));
  EXPECT_EQ("", Lookup("Width=\n", "width"));
  EXPECT_EQ("<none>", Lookup("Width\t=800\n", "width"));  // the tab stays
  EXPECT_EQ("800", Lookup("Width\t=800\n", "width\t"));
}

TEST_F(Settings, LookupSkipsCommentsBlankLinesAndLinesWithoutEquals) {
  EXPECT_EQ("2",
            Lookup("# Width=1\n\n   \nWidth 5\n  #x=y\nWidth=2\n", "width"));
  EXPECT_EQ("<none>", Lookup("# Width=1\nHeight=3\n", "width"));
  EXPECT_EQ("first", Lookup("w=first\nW=second\n", "w"));
}

TEST_F(Settings, StarAnswersEveryKeyTheLinesBeforeItMissed) {
  std::string text = "Width=1\n* = any\nHeight=2\n";
  EXPECT_EQ("1", Lookup(text, "width"));
  EXPECT_EQ(" any", Lookup(text, "height"));
  EXPECT_EQ(" any", Lookup(text, ""));
  EXPECT_EQ("empty key", Lookup("=empty key\n", ""));
  EXPECT_EQ("<none>", Lookup("a*=1\n", "ab"));
}

TEST_F(Settings, LookupOfAMissingFileOrATinyBufferFindsNothing) {
  char buffer[64];
  EXPECT_EQ(nullptr, LookupSetting(folder_.Path("missing.ini").c_str(), "w",
                                   sizeof buffer, buffer));
  EXPECT_EQ(nullptr, LookupSetting(folder_.path().c_str(), "w", sizeof buffer,
                                   buffer));     // a folder
  EXPECT_EQ("<none>", Lookup("w=1\n", "w", 1));  // could never read a line
  EXPECT_EQ("<none>", Lookup("w=1\n", "w", 0));
  EXPECT_EQ("<none>", Lookup("w=1\n", "w", -5));
}

TEST_F(Settings, LongLinesArriveInPiecesOfTheBufferSize) {
  // With 8 bytes a read takes 7 characters: "xxxxxxx", then "w=1".
  EXPECT_EQ("1", Lookup("xxxxxxxw=1\n", "w", 8));
  EXPECT_EQ("<none>", Lookup("longkey=1\n", "longkey", 5));
}

TEST_F(Settings, SectionHeadersMatchInAnyCaseWithTextBehind) {
  std::string text =
      "[Other]\nno\n\n[Main] the main part\n  indented  \n#kept\n\tx=1\n";
  EXPECT_EQ((Texts{"  indented  ", "#kept", "\tx=1"}), Section(text, "main"));
  EXPECT_EQ((Texts{"no"}), Section(text, "OTHER"));
  EXPECT_EQ(Texts{}, Section(" [Main]\nx\n", "Main"));  // indented header
  EXPECT_EQ(Texts{}, Section("[Main]\nx\n", "Missing"));
  EXPECT_EQ(Texts{}, Section("x\n[Main]", "Main"));  // header on the last line
  EXPECT_EQ((Texts{"first"}), Section("[a]\nfirst\n\n[a]\nsecond\n", "a"));
}

TEST_F(Settings, SectionsEndAtTheFirstBlankLine) {
  std::string text = "[s]\none\ntwo\n \t \nthree\n";
  EXPECT_EQ((Texts{"one", "two"}), Section(text, "s"));
  EXPECT_EQ((Texts{"one", "two"}), Section("[s]\none\ntwo", "s"));
  // 254 characters fill one read; the LF alone then reads as a blank line.
  std::string full(254, 'f');
  EXPECT_EQ((Texts{full}), Section("[s]\n" + full + "\nnext\n", "s"));
  std::string longer(300, 'g');
  EXPECT_EQ((Texts{std::string(254, 'g'), std::string(46, 'g'), "next"}),
            Section("[s]\n" + longer + "\nnext\n", "s"));
}

TEST_F(Settings, SectionNamesTooLongForTheHeaderFindNothing) {
  std::string name(300, 'n');
  std::string text = "[" + name + "]\nvalue\n";
  EXPECT_EQ(Texts{}, Section(text, name.c_str()));
}

TEST_F(Settings, ManyLinesInOneSection) {
  std::string text = "[big]\n";
  Texts expected;
  for (int i = 0; i < 1000; i++) {
    expected.push_back("line " + std::to_string(i));
    text += expected.back() + "\n";
  }
  EXPECT_EQ(expected, Section(text, "big"));
}

TEST_F(Settings, AMissingSectionFileEndsTheProgram) {
  StringList lines;
  EXPECT_EXIT(LoadLines("missing.ini", "Main", &lines),
              testing::ExitedWithCode(1),
              "LoadLines\\. missing\\.ini file missing");
}

}  // namespace
