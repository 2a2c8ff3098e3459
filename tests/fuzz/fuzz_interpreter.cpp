// The whole program on any argument vector: start-up, the special commands,
// the edit loop and the save, run on small photos in a folder of their own.
// An input may also carry a file of its own: the arguments end at a text of
// one DEL character, and the rest is written as made.jpg, made.png and
// made.bmp. Each input runs in a child process, because the program's fatal
// path ends the process. The child must end with status 0 or 1 within its
// time, write nothing outside the folder, leave no temporary file, change a
// photo only when the run succeeded and the command line named it, and no
// file may make the library ask for more memory than the limit below: what
// a header claims beyond its bytes must be refused before loading.
//
// The fuzzer learns from the coverage counters of its own process, so the
// child hands its counters back through shared memory as it exits: exit is
// wrapped at link time (-Wl,--wrap=exit), which also keeps libFuzzer's own
// exit handler from running in the child.
#include <FreeImage.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/platform.h"
#include "tests/fuzz/coverage_counters.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/temp_folder.h"
#include "tools/test_images.h"

extern "C" const char *__asan_default_options() {
  // Bitmaps beyond 256 MB count as memory the machine lacks, so a run stays
  // quick; the sanitizer says so on standard error, where a load that asked
  // for one is caught. The program keeps its process-lifetime data, so no
  // leak check.
  return "abort_on_error=1:allocator_may_return_null=1:"
         "max_allocation_size_mb=256:detect_leaks=0";
}
extern "C" const char *__ubsan_default_options() {
  return "abort_on_error=1:print_stacktrace=1";
}

extern "C" void __real_exit(int status);
extern "C" FIBITMAP *DLL_CALLCONV __real_FreeImage_Load(
    FREE_IMAGE_FORMAT format, const char *path, int flags);
extern "C" FIBITMAP *DLL_CALLCONV __real_FreeImage_LoadU(
    FREE_IMAGE_FORMAT format, const wchar_t *path, int flags);
extern "C" FIBITMAP *DLL_CALLCONV __real_FreeImage_LoadFromHandle(
    FREE_IMAGE_FORMAT format, FreeImageIO *io, fi_handle handle, int flags);
extern "C" FIBITMAP *DLL_CALLCONV __real_FreeImage_LoadFromMemory(
    FREE_IMAGE_FORMAT format, FIMEMORY *stream, int flags);

namespace {

uint8_t *g_shared_counters;
bool g_in_child;

size_t CounterBytes() { return CoverageCounterBytes(); }

}  // namespace

extern "C" void __wrap_exit(int status) {
  if (g_in_child) {
    memcpy(g_shared_counters, CoverageCounters(), CounterBytes());
    _exit(status);
  }
  __real_exit(status);
}

// Brackets one of the library's loads on the child's standard error, where
// the sanitizer also says when it refused an allocation over the limit.
// Every way the library loads is wrapped (-Wl,--wrap=...), so a load by
// name, through a handle or from memory is caught alike.
template <typename Load>
static FIBITMAP *Bracketed(Load load) {
  fputs("[loading]\n", stderr);
  FIBITMAP *bitmap = load();
  fputs("[loaded]\n", stderr);
  return bitmap;
}

extern "C" FIBITMAP *DLL_CALLCONV __wrap_FreeImage_Load(
    FREE_IMAGE_FORMAT format, const char *path, int flags) {
  return Bracketed([=] { return __real_FreeImage_Load(format, path, flags); });
}

extern "C" FIBITMAP *DLL_CALLCONV __wrap_FreeImage_LoadU(
    FREE_IMAGE_FORMAT format, const wchar_t *path, int flags) {
  return Bracketed([=] { return __real_FreeImage_LoadU(format, path, flags); });
}

extern "C" FIBITMAP *DLL_CALLCONV __wrap_FreeImage_LoadFromHandle(
    FREE_IMAGE_FORMAT format, FreeImageIO *io, fi_handle handle, int flags) {
  return Bracketed([=] {
    return __real_FreeImage_LoadFromHandle(format, io, handle, flags);
  });
}

extern "C" FIBITMAP *DLL_CALLCONV __wrap_FreeImage_LoadFromMemory(
    FREE_IMAGE_FORMAT format, FIMEMORY *stream, int flags) {
  return Bracketed(
      [=] { return __real_FreeImage_LoadFromMemory(format, stream, flags); });
}

namespace {

const int kChildSeconds = 20;
const char *const kPhotos[] = {"photo.jpg", "photo.png", "photo.bmp",
                               "gray.png"};
const char kFileMark[] = "\x7f";  // ends the arguments; the file follows
const char *const kMadeNames[] = {"made.jpg", "made.png", "made.bmp"};

std::string g_folder;
std::map<std::string, std::string> g_originals;  // name -> bytes

std::vector<std::string> Names() { return TempFolder::NamesIn(g_folder); }

std::string ChildErrors() { return g_folder + ".stderr"; }

// The child ends through _exit, so this runs once, as the fuzzer ends.
void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
  std::filesystem::remove(ChildErrors(), ignored);
}

void Setup() {
  char pattern[] = "/tmp/orvane-fuzz-run-XXXXXX";
  if (mkdtemp(pattern) == NULL) abort();
  g_folder = pattern;
  atexit(RemoveFolder);
  WriteSceneImage((g_folder + "/photo.jpg").c_str(), 40, 30, 24);
  WriteSceneImage((g_folder + "/photo.png").c_str(), 33, 21, 32);
  WriteSceneImage((g_folder + "/photo.bmp").c_str(), 17, 29, 24);
  WriteSceneImage((g_folder + "/gray.png").c_str(), 24, 24, 8);
  for (const char *name : kPhotos)
    g_originals[name] = ReadWholeFile(g_folder + "/" + name);
  if (CounterBytes() == 0) abort();  // built without coverage counters
  g_shared_counters =
      (uint8_t *)mmap(NULL, CounterBytes(), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (g_shared_counters == MAP_FAILED) abort();
}

// Puts the folder back as Setup left it.
void Restore() {
  for (const std::string &name : Names())
    if (g_originals.count(name) == 0) unlink((g_folder + "/" + name).c_str());
  for (const auto &photo : g_originals) {
    if (ReadWholeFile(g_folder + "/" + photo.first) != photo.second)
      WriteWholeFile(g_folder + "/" + photo.first, photo.second);
  }
}

[[noreturn]] void RunChild(std::vector<std::string> &args) {
  g_in_child = true;
  alarm(kChildSeconds);  // a hang ends as a signal, which the parent reports
  if (chdir(g_folder.c_str()) != 0) _exit(3);
  int null = open("/dev/null", O_WRONLY);
  int errors = open(ChildErrors().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(null, 1);
  dup2(errors, 2);
  setenv("TEMP", g_folder.c_str(), 1);
  setenv("AppData", g_folder.c_str(), 1);
  setenv("PATH", "/nonexistent", 1);  // -help finds no opener to start
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(&arg[0]);
  argv.push_back(NULL);
  PlatformSetArguments((int)args.size(), argv.data());
  exit(AppMain(NULL, NULL, NULL, 0));
}

int RunAndWaitForChild(std::vector<std::string> &args) {
  fflush(NULL);
  pid_t pid = fork();
  if (pid < 0) abort();
  if (pid == 0) RunChild(args);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (!WIFEXITED(status)) {
    fprintf(stderr, "child ended by signal %d; its last words:\n%s\n",
            WTERMSIG(status), ReadWholeFile(ChildErrors()).c_str());
    abort();
  }
  // The child's counters include everything this process had counted before
  // the fork, so they replace ours.
  memcpy(CoverageCounters(), g_shared_counters, CounterBytes());
  return WEXITSTATUS(status);
}

// A claim that got past the checks: the sanitizer refused the library an
// allocation over the limit while it was loading.
bool LoadingAskedTooMuch(const std::string &errors) {
  for (size_t at = errors.find("[loading]"); at != std::string::npos;
       at = errors.find("[loading]", at + 1)) {
    size_t refused = errors.find("failed to allocate", at);
    if (refused < errors.find("[loaded]", at)) return true;
  }
  return false;
}

void CheckFolder(const std::vector<std::string> &args, int status,
                 std::map<std::string, std::string> &originals) {
  std::set<std::string> named(args.begin(), args.end());
  for (const std::string &name : Names()) {
    bool photo = originals.count(name) != 0;
    bool allowed = photo || name == "Orvane.log" ||
                   (status == 0 && named.count(name) != 0);
    if (!allowed) {
      fprintf(stderr, "unexpected file left: %s (status %d)\n", name.c_str(),
              status);
      abort();
    }
    if (photo && (status != 0 || named.count(name) == 0) &&
        ReadWholeFile(g_folder + "/" + name) != originals[name]) {
      fprintf(stderr, "photo changed: %s (status %d)\n", name.c_str(), status);
      abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_folder.empty()) Setup();
  FuzzInput input(data, size);
  std::vector<std::string> args = {"orvane"};
  std::map<std::string, std::string> originals = g_originals;
  while (!input.Empty() && args.size() < 34) {
    std::string arg = input.Text();
    if (arg == kFileMark) {
      std::string file = input.Rest();
      for (const char *name : kMadeNames) originals[name] = file;
      break;
    }
    // Every path stays inside the folder.
    for (char &c : arg)
      if (c == '/') c = '_';
    args.push_back(arg);
  }
  Restore();
  for (const auto &photo : originals)
    if (g_originals.count(photo.first) == 0)
      WriteWholeFile(g_folder + "/" + photo.first, photo.second);
  int status = RunAndWaitForChild(args);
  if (status != 0 && status != 1) {
    fprintf(stderr, "exit status %d\n", status);
    abort();
  }
  std::string errors = ReadWholeFile(ChildErrors());
  if (LoadingAskedTooMuch(errors)) {
    fprintf(stderr, "a file claimed more than the limit and was loaded:\n%s\n",
            errors.c_str());
    abort();
  }
  CheckFolder(args, status, originals);
  return 0;
}
