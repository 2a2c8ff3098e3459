// What only POSIX systems show: the command line rebuilt from argv, links,
// pipes, devices and other users' files, TMPDIR, the resource limits,
// programs started without a shell, and saves ended by a signal.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "lib/paths.h"
#include "lib/stringlist.h"
#include "log/log.h"
#include "platform/platform.h"
#include "tests/fixtures.h"
#include "tests/limits.h"
#include "tests/portable.h"
#include "tests/temp_folder.h"
#include "tests/texts.h"

namespace {

// ---- The command line ----

// Whatever the arguments, the rebuilt POSIX command line splits back into
// exactly the same words.
TEST(PlatformCommandLine, RoundTripsArgv) {
  std::vector<Texts> cases = {
      {"orvane", "-w", "800", "photo.jpg"},
      {"/opt/my tools/orvane", "", "my photo.jpg"},
      {"orvane", "\"quoted\"", "a\"b", "\"", "\"\"", "end\""},
      {"orvane", "tab\there", "line\nfeed", "cr\rx", " lead", "trail "},
      {"orvane", "say \"hi\"", "\"a b\"", "back\\slash\\", "\\\""},
      {"orvane", "\v\f", "-dbg=1"},
  };
  for (const Texts &argv : cases) {
    std::vector<char *> raw;
    for (const std::string &arg : argv) raw.push_back((char *)arg.c_str());
    PlatformSetArguments((int)raw.size(), raw.data());
    EXPECT_EQ(argv, Split(PlatformCommandLine())) << PlatformCommandLine();
  }
}

TEST(PlatformCommandLine, WritesPlainArgumentsBare) {
  const char *argv[] = {"orvane", "-r", "90", "a b.jpg", ""};
  PlatformSetArguments(5, (char **)argv);
  EXPECT_STREQ("orvane -r 90 \"a b.jpg\" \"\"", PlatformCommandLine());
}

// ---- The log ----

// The log sits in a folder anyone can write to: whatever someone else put
// at its name, the log must not be turned against another file.
TEST_F(Log, WritesNothingThroughALink) {
  std::string victim = folder_.Path("victim");
  WriteWholeFile(victim, "precious\n");
  ASSERT_EQ(0, symlink(victim.c_str(), path_.c_str()));
  LogF("attack");
  EXPECT_EQ("precious\n", ReadWholeFile(victim));
  struct stat st;
  ASSERT_EQ(0, lstat(path_.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));  // not replaced by a log of its own
}

TEST_F(Log, CreatesNothingThroughALinkToAMissingFile) {
  std::string victim = folder_.Path("victim");
  ASSERT_EQ(0, symlink(victim.c_str(), path_.c_str()));
  LogF("attack");
  EXPECT_EQ("<missing>", ReadWholeFile(victim));
}

TEST_F(Log, LeavesAnotherUsersFileAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  WriteWholeFile(path_, "theirs\n");
  ASSERT_EQ(0, chown(path_.c_str(), 65534, 65534));
  LogF("attack");
  EXPECT_EQ("theirs\n", Contents());
}

TEST_F(Log, NeitherWaitsForNorWritesIntoAPipe) {
  ASSERT_EQ(0, mkfifo(path_.c_str(), 0600));
  LogF("attack");  // with no reader, an open that waited would never return
  // With a reader, an open for writing succeeds at once: what it let through
  // would wait in the pipe.
  int reader = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_LE(0, reader);
  LogF("attack");
  char buffer[64];
  EXPECT_EQ(0, read(reader, buffer, sizeof buffer));
  close(reader);
}

TEST(LogInTemp, JoinsTempFolderAndName) {
  TempFolder folder;
  ScopedEnv env;
  env.Set("TEMP", folder.path());
  EXPECT_EQ(folder.Path("Orvane.log"), LogInTemp("Orvane.log"));
  env.Unset("TEMP");
  env.Set("TMPDIR", folder.path());
  const char *path = LogInTemp("x.log");
  EXPECT_EQ(folder.Path("x.log"), path);
  LogSetPath(path);  // handing the same path back keeps it valid
  LogF("kept");
  EXPECT_NE(std::string::npos,
            ReadWholeFile(folder.Path("x.log")).find("kept"));
  LogSetPath(nullptr);
}

// ---- Files and programs ----

TEST_F(Files, ReadAllEndsTheProgramForAPipe) {
  ASSERT_EQ(0, mkfifo("pipe", 0600));
  EXPECT_EXIT(ReadAll("pipe"), testing::ExitedWithCode(1),
              "Can't read file: pipe");
}

TEST_F(Files, FileExistsForAPipeWithoutWaitingForAWriter) {
  ASSERT_EQ(0, mkfifo("pipe", 0600));
  EXPECT_EQ(1, FileExists("pipe"));  // opened without waiting for a writer
}

TEST_F(Files, CopyTextFileOntoAFullDiskEndsTheProgramAndKeepsTheTarget) {
  WriteWholeFile("source.txt", std::string(64 * 1024, 's'));
  WriteWholeFile("target.txt", "old");
  EXPECT_EXIT(
      {
        LimitFileSizeOfThisProcess(16 * 1024);  // the disk fills up
        CopyTextFile("source.txt", "target.txt");
      },
      testing::ExitedWithCode(1), "Can't write target.txt");
  EXPECT_EQ("old", ReadWholeFile("target.txt"));
  EXPECT_EQ((Texts{"source.txt", "target.txt"}), folder_.Names());
}

// Only a plain file is read, and anything else is refused at once: a read
// that waited for a writer, or went on through a device's endless stream,
// would hang the program. /proc's files claim 0 bytes but are read whole.
TEST_F(Files, MapFileReadsOnlyPlainFilesAndNeverWaits) {
  ASSERT_EQ(0, mkfifo("pipe", 0600));
  int pipe_held = open("pipe", O_RDWR);  // a reader would wait for more
  WriteWholeFile("secret", "x");
  chmod("secret", 0);
  struct {
    const char *path;
    FileReadError error;
  } cases[] = {{"pipe", kFileNotPlain},
               {"/dev/zero", kFileNotPlain},
               {"secret/photo.jpg", kFileMissing},
               {"secret", kFileDenied},
               {"/proc/self/cmdline", kFileReadOk}};
  alarm(10);  // a read that waits ends the test rather than hanging it
  for (const auto &c : cases) {
    if (c.error == kFileDenied && geteuid() == 0) continue;  // root reads all
    MappedFile file;
    FileReadError error = kFileReadOk;
    int mapped = PlatformMapFile(c.path, &file, &error);
    EXPECT_EQ(c.error, error) << c.path;
    std::string bytes = mapped ? std::string((char *)file.data, file.size) : "";
    EXPECT_EQ(c.error == kFileReadOk ? ReadWholeFile(c.path) : "", bytes);
    PlatformUnmapFile(&file);
  }
  alarm(0);
  close(pipe_held);
}

// A mapped file another program cuts short faults where it is read past its
// new end: the run ends with status 1 and says why, instead of a crash.
TEST_F(Files, MappedFileCutShortEndsTheRunWithAReason) {
  WriteWholeFile("photo.jpg", std::string(1 << 20, 'x'));
  fflush(NULL);
  pid_t child = fork();
  if (child == 0) {
    MappedFile file;
    FileReadError error;
    if (!PlatformMapFile("photo.jpg", &file, &error)) _exit(3);
    if (truncate("photo.jpg", 100) != 0) _exit(4);
    volatile unsigned char last = file.data[file.size - 1];
    (void)last;
    _exit(5);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
}

TEST(RunAndWait, GivesTheExitCodeOrMinusOne) {
  EXPECT_EQ(0, RunAndWait("true", nullptr, 0));
  EXPECT_EQ(3, RunAndWait("sh", "-c \"exit 3\"", 0));
  EXPECT_EQ(-1, RunAndWait("no-such-program-anywhere", "", 0));
  EXPECT_EQ(-1, RunAndWait("sh", "-c \"kill -9 $$\"", 0));  // no normal end
  // Parameters are split like the command line and reach the program
  // directly: quotes group, "" stands for a quote, no shell interprets ";".
  EXPECT_EQ(0, RunAndWait("test", "\"a; b\" = \"a; b\"", 0));
  EXPECT_EQ(0, RunAndWait("test", "\"x\"\"y\" = x\"y", 0));
  EXPECT_EQ(1, RunAndWait("test", "\"a b\" = a", 0));
}

// ---- String lists ----

TEST(StringList, ArraysThatCannotBeAllocatedEndTheProgram) {
  EXPECT_EXIT(
      {
        LimitMemoryOfThisProcess();
        StringListNew(INT_MAX);
      },
      testing::ExitedWithCode(1), "out of memory");
  EXPECT_EXIT(
      {
        LimitMemoryOfThisProcess();
        StringList list = StringListNew(0);
        StringListGet(&list, INT_MAX);
      },
      testing::ExitedWithCode(1), "out of memory");
  EXPECT_EXIT(
      {
        LimitMemoryOfThisProcess();
        StringList list = StringListNew(1);
        StringListInsert(&list, INT_MAX, "x");
      },
      testing::ExitedWithCode(1), "out of memory");
}

// ---- Memory ----

// Both the soft and the hard limit, for a death test's child.
void SetLimit(int resource, rlim_t value) {
  struct rlimit limit = {value, value};
  setrlimit(resource, &limit);
}

// What the process maps now, as RLIMIT_AS counts it.
uint64_t MappedBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  statm >> pages;
  return pages * (uint64_t)sysconf(_SC_PAGESIZE);
}

// ulimit -v caps what can be allocated, whatever the machine has free.
TEST(AvailableMemory, IsTheLesserOfFreeMemoryAndTheAddressSpaceLimit) {
  uint64_t available = PlatformAvailableMemory();
  EXPECT_GT(available, 0u);
  EXPECT_LT(available, UINT64_MAX);
#ifdef ORVANE_UNDER_ASAN
  GTEST_SKIP() << "the sanitizer maps terabytes: no limit can be set";
#else
  const uint64_t kRoom = 100 << 20;
  EXPECT_EXIT(
      {
        SetLimit(RLIMIT_AS, (rlim_t)(MappedBytes() + kRoom));
        uint64_t left = PlatformAvailableMemory();
        fprintf(stderr, "%llu bytes left\n", (unsigned long long)left);
        _exit(left > kRoom / 2 && left <= kRoom ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
#endif
}

// ---- A save ended by a signal ----

// The signals whose default action ends the program: stops and crashes.
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                              SIGBUS, SIGABRT, SIGFPE, SIGILL};

void ExitSeven(int) { _exit(7); }

// A signal's disposition before the save, and how the child then ends.
struct SignalCase {
  int signal_number;
  void (*before)(int);  // SIG_DFL also puts a sanitizer's handler aside
  std::function<bool(int)> ends;
};

// A death test's child: saves "new" over target, raising the signal during
// the save, after it, or both.
void SaveRaising(const std::string &target, const SignalCase &c, bool during,
                 bool after) {
  SetLimit(RLIMIT_CORE, 0);  // no core files from the crashes
  signal(c.signal_number, c.before);
  SafeSave save;
  if (!PlatformBeginSafeSave(target.c_str(), &save)) _exit(3);
  WriteWholeFile(save.temp, "new");
  if (during) raise(c.signal_number);
  if (ReadWholeFile(save.temp) != "new") _exit(4);  // gone, yet still running
  if (!PlatformFinishSafeSave(&save)) _exit(5);
  if (after) raise(c.signal_number);
  _exit(0);
}

// A stop or a crash during a save removes the temporary file, and the
// program still ends by the signal, or by the handler that was there before
// the save (a sanitizer's report, say); the target stays the old file. A
// kill, which no handler sees, leaves nothing either: the file has no name.
TEST_F(SafeSaving, StopAndCrashSignalsRemoveTheTemporaryFile) {
  std::vector<SignalCase> cases = {
      {SIGSEGV, ExitSeven, testing::ExitedWithCode(7)},
      {SIGKILL, SIG_DFL, testing::KilledBySignal(SIGKILL)}};
  for (int n : kEndingSignals)
    cases.push_back({n, SIG_DFL, testing::KilledBySignal(n)});
  WriteWholeFile(target_, "old");
  for (const SignalCase &c : cases) {
    EXPECT_EXIT(SaveRaising(target_, c, true, false), c.ends, "")
        << strsignal(c.signal_number);
    EXPECT_EQ(Texts{"photo.jpg"}, folder_.Names());
    EXPECT_EQ("old", ReadWholeFile(target_));
  }
}

// Once the save is over, each signal acts as it did before: the default
// action, the program's own handler, or nothing when it was ignored (nohup).
// During the save, a signal ignored before stays ignored, and so is SIGXFSZ.
TEST_F(SafeSaving, SignalsActAsBeforeAroundTheSave) {
  std::vector<SignalCase> cases = {
      {SIGXFSZ, SIG_DFL, testing::KilledBySignal(SIGXFSZ)},
      {SIGINT, ExitSeven, testing::ExitedWithCode(7)},
      {SIGSEGV, ExitSeven, testing::ExitedWithCode(7)},
      {SIGHUP, SIG_IGN, testing::ExitedWithCode(0)},
      {SIGFPE, SIG_IGN, testing::ExitedWithCode(0)},
      {SIGXFSZ, SIG_IGN, testing::ExitedWithCode(0)}};
  for (int n : kEndingSignals)
    cases.push_back({n, SIG_DFL, testing::KilledBySignal(n)});
  for (const SignalCase &c : cases) {
    bool ignored = c.before == SIG_IGN || c.signal_number == SIGXFSZ;
    EXPECT_EXIT(SaveRaising(target_, c, ignored, true), c.ends, "")
        << strsignal(c.signal_number);
    EXPECT_EQ("new", ReadWholeFile(target_));
    EXPECT_EQ(Texts{"photo.jpg"}, folder_.Names());
  }
}

// Past the file-size limit (ulimit -f) the save's write fails with EFBIG
// rather than SIGXFSZ ending the program with the fresh file left behind;
// the save then cleans up as after any failed write.
TEST_F(SafeSaving, FileSizeLimitFailsTheWriteNotTheProgram) {
  WriteWholeFile(target_, "old");
  EXPECT_EXIT(
      {
        SetLimit(RLIMIT_FSIZE, 1024);  // SIGXFSZ keeps its default action
        SafeSave save;
        if (!PlatformBeginSafeSave(target_.c_str(), &save)) _exit(3);
        int fd = open(save.temp, O_WRONLY | O_CLOEXEC);
        char data[4096] = {};
        ssize_t n = 0;
        for (int i = 0; i < 4 && n >= 0; i++) n = write(fd, data, sizeof data);
        if (n >= 0 || errno != EFBIG) _exit(4);
        close(fd);
        PlatformAbandonSafeSave(&save);
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ("old", ReadWholeFile(target_));
  EXPECT_EQ(Texts{"photo.jpg"}, folder_.Names());
}

}  // namespace
