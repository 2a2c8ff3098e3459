// Every option the program accepts is described wherever users look for it.
#include <gtest/gtest.h>
#include <string.h>

#include <regex>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/messages.h"
#include "orvane_version.h"
#include "tests/temp_folder.h"

namespace {

std::vector<std::string> AcceptedOptions() {
  std::vector<std::string> options;
  for (int row = 0; EditOptionTable[row].name != nullptr; row++)
    options.push_back(EditOptionTable[row].name);
  for (const char *special : {"-?", "-help", "-ver", "-dbg=", "--help",
                              "--version"})
    options.push_back(special);
  return options;
}

// A roff source read as text: "\-" is a minus, font changes are dropped.
std::string RoffAsText(const std::string &roff) {
  std::string text = std::regex_replace(roff, std::regex("\\\\f[BIRP]"), "");
  return std::regex_replace(text, std::regex("\\\\-"), "-");
}

// The option as a word of its own: "-o" must not count when only "-oq" or
// "--help" is there.
bool Mentions(const std::string &text, const std::string &option) {
  for (size_t at = text.find(option); at != std::string::npos;
       at = text.find(option, at + 1)) {
    char before = at > 0 ? text[at - 1] : ' ';
    char after = at + option.size() < text.size() ? text[at + option.size()]
                                                  : ' ';
    bool starts = !isalnum((unsigned char)before) && before != '-';
    bool ends = !isalnum((unsigned char)after) && after != '-' &&
                after != '=';
    if (starts && (ends || option.back() == '=')) return true;
  }
  return false;
}

std::string Source(const char *name) {
  return ReadWholeFile(std::string(ORVANE_SOURCE_DIR "/") + name);
}

TEST(Documentation, EveryOptionIsInTheReadmeHelpPageAndManualPage) {
  std::string readme = Source("README.md");
  std::string help = Source("docs/help/index.html");
  std::string manual = RoffAsText(Source("docs/orvane.1"));
  ASSERT_NE("<missing>", readme);
  ASSERT_NE("<missing>", help);
  ASSERT_NE("<missing>", manual);
  for (const std::string &option : AcceptedOptions()) {
    EXPECT_TRUE(Mentions(readme, option)) << option << " not in README.md";
    EXPECT_TRUE(Mentions(help, option)) << option << " not in the help page";
    EXPECT_TRUE(Mentions(manual, option)) << option << " not in orvane.1";
  }
}

TEST(Documentation, UsageTextListsEveryEditOption) {
  for (int row = 0; EditOptionTable[row].name != nullptr; row++) {
    std::string option = EditOptionTable[row].name;
    EXPECT_TRUE(Mentions(UsageText, option)) << option;
    // And says how it goes with -lossless: a step, or why there is none.
    EXPECT_NE(EditOptionTable[row].compose == nullptr,
              EditOptionTable[row].lossless_why_not == nullptr)
        << option;
  }
}

// Every version the documents name is the one the build declares, and each
// document names it at least once.
TEST(Documentation, NamesTheVersionTheBuildDeclares) {
  const std::regex program_version("Orvane (Ver )?(\\d+\\.\\d+)\\b");
  for (const char *name : {"README.md", "docs/help/index.html",
                           "docs/orvane.1"}) {
    std::string text = Source(name);
    int seen = 0;
    for (std::sregex_iterator m(text.begin(), text.end(), program_version), end;
         m != end; ++m, ++seen)
      EXPECT_EQ(ORVANE_VERSION_TEXT, (*m)[2].str()) << name;
    EXPECT_GT(seen, 0) << name << " names no version";
  }
  std::string readme = Source("README.md");
  // The Debian package and the Windows zip and installer by file name.
  const std::regex package("(orvane_|Orvane-)([0-9.]+)[_-]");
  int packages = 0;
  for (std::sregex_iterator m(readme.begin(), readme.end(), package), end;
       m != end; ++m, ++packages)
    EXPECT_EQ(ORVANE_PACKAGE_VERSION, (*m)[2].str()) << (*m)[0];
  EXPECT_GT(packages, 0);
}

TEST(Documentation, MentionsFindsWholeOptionsOnly) {
  EXPECT_TRUE(Mentions("use -o file", "-o"));
  EXPECT_FALSE(Mentions("use -oq 90", "-o"));
  EXPECT_FALSE(Mentions("use --help", "-help"));
  EXPECT_TRUE(Mentions("[-wh width height]", "-wh"));
  EXPECT_TRUE(Mentions("-dbg=N", "-dbg="));
  EXPECT_TRUE(Mentions("-? alone", "-?"));
}

}  // namespace
