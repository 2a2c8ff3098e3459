// Runs the built program as a user would: in a work folder of the test's own,
// with a small environment of its own, what it writes to the terminal caught
// in files. The end-to-end and the fault tests share it.
//
// The same cases run against Orvane.exe under Wine: ORVANE_TEST_PROGRAM names
// the program (a build whose message boxes write what they would show) and
// ORVANE_TEST_EMULATOR what runs it (wine64), in the Wine prefix that
// WINEPREFIX names, whose TEMP is %ORVANE_TEST_TEMP% (tests/wine_prefix.sh).
#ifndef ORVANE_TESTS_PROGRAM_HARNESS_H
#define ORVANE_TESTS_PROGRAM_HARNESS_H

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "orvane_version.h"
#include "tests/temp_folder.h"
#include "tests/texts.h"

// The caption of every message the program shows.
const char kCaption[] = ORVANE_PROGRAM_NAME " Ver " ORVANE_VERSION_TEXT;

// The program under test: the build's own, or ORVANE_TEST_PROGRAM.
std::string BuiltProgram();
// Whether that is the Windows program, run through an emulator.
bool WindowsProgram();
// A path of this machine as the program under test names it.
std::string ProgramSidePath(const std::string &path);
// The program as its own command line names it: on Windows, quoted.
std::string ProgramInCommandLine();
// How the program's text files (the log) end their lines.
std::string ProgramLineEnd();

// For the few cases that only a POSIX system can show.
#define SKIP_FOR_WINDOWS_PROGRAM(why) \
  if (WindowsProgram()) GTEST_SKIP() << "Orvane.exe under Wine: " why

struct Result {
  int status;  // exit status, or 128 + signal
  std::string out, err;
};

class ProgramHarness : public ::testing::Test {
 protected:
  // The folders bin/ (a stand-in for the desktop's opener), temp/ and work/,
  // and an environment that names them.
  void SetUp() override;

  std::string Work(const std::string &name) const;

  // Starts program in the work folder with args and env_; its output goes to
  // files that Finish reads.
  pid_t Start(const Texts &args,
              const std::string &program = BuiltProgram());
  Result Finish(pid_t pid);
  Result Orvane(const Texts &args) { return Finish(Start(args)); }

  void MakeImage(const std::string &name, int width, int height,
                 int bpp = 24);
  FIBITMAP *LoadWork(const std::string &name);
  // The size of an image file as the library reads it; 0 x 0 when unreadable.
  std::pair<unsigned, unsigned> SizeOf(const std::string &name);
  // What the library itself writes for this bitmap and flags.
  std::string LibrarySaves(FIBITMAP *bitmap, FREE_IMAGE_FORMAT format,
                           int flags);

  // Asked for (status 0): the usage on standard output. A mistake (status
  // 1): on standard error, headed by "Not understood: " and what was typed
  // (when given).
  void ExpectUsage(const Result &r, int status,
                   const std::string &typed = "");
  // A warning whose first line is text; a second line, the cause, may
  // follow, and must when cause is given.
  void ExpectWarning(const Result &r, const std::string &text,
                     const std::string &cause = "");

  // The names in the work folder, sorted.
  Texts WorkNames() const;
  // What the stand-in opener was asked to open, once it has run.
  std::string WaitForOpened() const;

  TempFolder folder_;
  Texts env_;
  std::function<void()> in_child_;  // runs in the child before the program
};

#endif
