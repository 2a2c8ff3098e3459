#include "tests/program_harness.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tools/test_images.h"

static const char *Setting(const char *name) {
  const char *value = getenv(name);
  return (value != nullptr && *value != '\0') ? value : nullptr;
}

std::string BuiltProgram() {
  const char *program = Setting("ORVANE_TEST_PROGRAM");
  return program != nullptr ? program : ORVANE_BINARY;
}

bool WindowsProgram() { return Setting("ORVANE_TEST_EMULATOR") != nullptr; }

// Wine shows this machine's root as drive Z:.
std::string ProgramSidePath(const std::string &path) {
  if (!WindowsProgram()) return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

std::string ProgramInCommandLine() {
  if (!WindowsProgram()) return BuiltProgram();
  return "\"" + ProgramSidePath(BuiltProgram()) + "\"";
}

std::string ProgramLineEnd() { return WindowsProgram() ? "\r\n" : "\n"; }

// What Wine itself needs from the test's environment; where the suite's
// prefix finds the test's TEMP folder; and UTF-8, by which Wine turns this
// machine's names into Windows ones and back.
static void AddWineSettings(Texts *env, const std::string &temp) {
  for (char **e = environ; *e != nullptr; e++)
    if (strncmp(*e, "WINE", 4) == 0 || strncmp(*e, "HOME=", 5) == 0)
      env->push_back(*e);
  env->push_back("ORVANE_TEST_TEMP=" + ProgramSidePath(temp));
  env->push_back("LC_ALL=C.UTF-8");
}

void ProgramHarness::SetUp() {
  mkdir(folder_.Path("bin").c_str(), 0755);
  mkdir(folder_.Path("temp").c_str(), 0755);
  mkdir(folder_.Path("work").c_str(), 0755);
  // Stands in for the desktop's opener and records what it was asked for.
  WriteWholeFile(folder_.Path("bin/xdg-open"),
                 "#!/bin/sh\nprintf '%s' \"$1\" > \"$OPENED.tmp\" && "
                 "mv \"$OPENED.tmp\" \"$OPENED\"\n");
  chmod(folder_.Path("bin/xdg-open").c_str(), 0755);
  env_ = {"PATH=" + folder_.Path("bin") + ":/usr/bin:/bin",
          "TEMP=" + folder_.Path("temp"),
          "AppData=" + folder_.Path("appdata"),
          "OPENED=" + folder_.Path("opened"),
          "LSAN_OPTIONS=print_suppressions=0:suppressions=" LSAN_SUPPRESSIONS};
  if (WindowsProgram()) AddWineSettings(&env_, folder_.Path("temp"));
}

std::string ProgramHarness::Work(const std::string &name) const {
  return folder_.Path("work/" + name);
}

pid_t ProgramHarness::Start(const Texts &args, const std::string &program) {
  std::vector<char *> argv;
  if (WindowsProgram()) argv.push_back((char *)Setting("ORVANE_TEST_EMULATOR"));
  argv.push_back((char *)program.c_str());
  for (const std::string &a : args) argv.push_back((char *)a.c_str());
  argv.push_back(nullptr);
  std::vector<char *> envp;
  for (const std::string &e : env_) envp.push_back((char *)e.c_str());
  envp.push_back(nullptr);
  std::string out = folder_.Path("stdout"), err = folder_.Path("stderr");
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    if (in_child_) in_child_();
    if (chdir(folder_.Path("work").c_str()) != 0) _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

Result ProgramHarness::Finish(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  Result r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = ReadWholeFile(folder_.Path("stdout"));
  r.err = ReadWholeFile(folder_.Path("stderr"));
  return r;
}

void ProgramHarness::MakeImage(const std::string &name, int width, int height,
                               int bpp) {
  ASSERT_TRUE(WriteSceneImage(Work(name).c_str(), width, height, bpp));
}

// JPEG as the program decodes it: the accurate DCT, smooth chroma.
FIBITMAP *ProgramHarness::LoadWork(const std::string &name) {
  FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(name.c_str());
  return FreeImage_Load(format, Work(name).c_str(),
                        format == FIF_JPEG ? JPEG_ACCURATE : 0);
}

std::pair<unsigned, unsigned> ProgramHarness::SizeOf(const std::string &name) {
  FIBITMAP *b = LoadWork(name);
  if (b == nullptr) return {0, 0};
  std::pair<unsigned, unsigned> size(FreeImage_GetWidth(b),
                                     FreeImage_GetHeight(b));
  FreeImage_Unload(b);
  return size;
}

std::string ProgramHarness::LibrarySaves(FIBITMAP *bitmap,
                                         FREE_IMAGE_FORMAT format, int flags) {
  std::string path = folder_.Path("expected");
  EXPECT_TRUE(FreeImage_Save(format, bitmap, path.c_str(), flags));
  std::string data = ReadWholeFile(path);
  unlink(path.c_str());
  return data;
}

void ProgramHarness::ExpectUsage(const Result &r, int status,
                                 const std::string &typed) {
  EXPECT_EQ(status, r.status);
  if (status == 0) {
    EXPECT_EQ(0u, r.out.find(std::string(kCaption) + "\nUsage:\n")) << r.out;
    EXPECT_EQ("", r.err);
    return;
  }
  EXPECT_EQ("", r.out);
  std::string heading = std::string(kCaption) + ": ";
  if (!typed.empty()) heading += "Not understood: " + typed;
  EXPECT_EQ(0u, r.err.find(heading)) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("\n\nUsage:\n")) << r.err;
}

void ProgramHarness::ExpectWarning(const Result &r, const std::string &text,
                                   const std::string &cause) {
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("", r.out);
  std::string first = std::string(kCaption) + ": " + text + "\n";
  EXPECT_EQ(0u, r.err.find(first)) << r.err;
  std::string rest = r.err.substr(std::min(first.size(), r.err.size()));
  EXPECT_GE(1, std::count(rest.begin(), rest.end(), '\n'))
      << "at most one line after the first: " << r.err;
  if (!cause.empty()) {
    EXPECT_EQ(cause + "\n", rest);
  }
}

Texts ProgramHarness::WorkNames() const {
  return TempFolder::NamesIn(folder_.Path("work"));
}

// The opener may still run after the program has ended. The deadline only
// ends the wait for one that never runs, so it is far beyond any real delay.
std::string ProgramHarness::WaitForOpened() const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  do {
    std::string opened = ReadWholeFile(folder_.Path("opened"));
    if (opened != "<missing>") return opened;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return "<nothing opened>";
}
