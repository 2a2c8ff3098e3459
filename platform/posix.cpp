// POSIX services in place of the Windows ones the program was built around.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/system.h"

extern char **environ;

const char kPathSeparator = '/';

size_t SystemFileNameOffset(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash != NULL ? (size_t)(slash - path) + 1 : 0;
}

// The folder part of path, "." when it has none and "/" for the root.
static char *FolderPart(const char *path) {
  size_t offset = SystemFileNameOffset(path);
  if (offset == 0) return CopyTextOrAbort(".");
  char *folder = CopyTextOrAbort(path);
  folder[offset > 1 ? offset - 1 : 1] = '\0';
  return folder;
}

static char *g_command_line;

// The line is rebuilt so that the program's own tokenizer splits it back
// into exactly these words.
void PlatformSetArguments(int argc, char **argv) {
  free(g_command_line);
  g_command_line = JoinArgumentLine(argc, (const char *const *)argv);
}

const char *PlatformCommandLine(void) {
  return g_command_line != NULL ? g_command_line : "";
}

int PlatformProgramPath(char *buffer, int capacity) {
  if (capacity <= 0) return 0;
  ssize_t n = readlink("/proc/self/exe", buffer, (size_t)capacity);
  if (n <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  if (n >= capacity) {  // as Windows does: cut, terminated, length = capacity
    buffer[capacity - 1] = '\0';
    return capacity;
  }
  buffer[n] = '\0';
  return (int)n;
}

int PlatformMessageBox(const char *text, const char *caption, BoxKind kind) {
  return PlatformWriteBoxToTerminal(text, caption, kind);
}

// xdg-open picks the program from the file alone, and is not waited for.
int PlatformOpenDocument(const char *file) {
  char program[] = "xdg-open";
  char *argv[] = {program, (char *)file, NULL};
  pid_t pid;
  return posix_spawnp(&pid, program, NULL, NULL, argv, environ) == 0;
}

const int kUserDataRootRequired = 0;

char *PlatformUserDataRoot(void) {
  const char *value = NonEmptyEnv("XDG_DATA_HOME");
  if (value != NULL) return CopyTextOrAbort(value);
  const char *home = NonEmptyEnv("HOME");
  if (home == NULL) return NULL;
  static const char kDataBelowHome[] = "/.local/share";
  size_t n = strlen(home);
  char *root = (char *)AllocOrAbort(n + sizeof kDataBelowHome);
  memcpy(root, home, n);
  memcpy(root + n, kDataBelowHome, sizeof kDataBelowHome);
  return root;
}

const char *PlatformTempFolder(void) {
  const char *value = NonEmptyEnv("TEMP");
  if (value == NULL) value = NonEmptyEnv("TMPDIR");
  return value != NULL ? value : "/tmp";
}

// The log lives in a folder anyone may write to: refuse links, and anything
// that is not our own plain file, so nobody can aim our appends elsewhere.
FILE *PlatformOpenLogFile(const char *path) {
  int fd = open(
      path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
      0666);
  if (fd < 0) return NULL;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return NULL;
  }
  FILE *file = fdopen(fd, "a");
  if (file == NULL) close(fd);
  return file;
}

unsigned long PlatformProcessId(void) { return (unsigned long)getpid(); }

int PlatformMakeFolder(const char *path) {
  return mkdir(path, 0777) == 0 ? 0 : -1;
}

// 1 with *st filled in, 0 when path names nothing, -1 when it can't be told.
static int StatIfThere(const char *path, struct stat *st) {
  if (stat(path, st) == 0) return 1;
  return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
}

int PlatformSameFile(const char *a, const char *b) {
  struct stat first, second;
  int known = StatIfThere(a, &first);
  if (known == 1) known = StatIfThere(b, &second);
  if (known != 1) return known;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Non-blocking at first so a FIFO without a writer cannot hang the open;
// blocking again afterwards so reads behave as on any file.
FILE *PlatformOpenForReading(const char *path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return NULL;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return NULL;
  }
  FILE *file = fdopen(fd, "r");
  if (file == NULL) close(fd);
  return file;
}

// ---- Whole files and memory ----

static FileReadError ReadErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kFileMissing;
    case EACCES:
    case EPERM:
      return kFileDenied;
    case EISDIR:
      return kFileIsFolder;
    case ENXIO:  // a socket, or a device without its driver
      return kFileNotPlain;
    default:
      return kFileReadFailed;
  }
}

static FileReadError KindError(mode_t mode) {
  if (S_ISDIR(mode)) return kFileIsFolder;
  return S_ISREG(mode) ? kFileReadOk : kFileNotPlain;
}

// Reads until the buffer is full or the file ends: the bytes read, or -1 on
// an error.
static ssize_t ReadFully(int fd, void *buffer, size_t capacity) {
  size_t used = 0;
  while (used < capacity) {
    ssize_t n = read(fd, (char *)buffer + used, capacity - used);
    if (n == 0) break;
    if (n > 0) {
      used += (size_t)n;
    } else if (errno != EINTR) {
      return -1;
    }
  }
  return (ssize_t)used;
}

// Doubles the block, or frees it and gives NULL.
static unsigned char *Grow(unsigned char *block, size_t *capacity) {
  size_t bigger = *capacity <= SIZE_MAX / 2 ? *capacity * 2 : 0;
  unsigned char *grown =
      bigger != 0 ? (unsigned char *)realloc(block, bigger) : NULL;
  if (grown == NULL) free(block);
  *capacity = bigger;
  return grown;
}

// Reads to the end of the file, past the size it claimed when it grew (or is
// one of /proc's, which claim 0 bytes). NULL on an error or without memory.
static unsigned char *ReadToEnd(int fd, size_t capacity, size_t *size) {
  unsigned char *block = (unsigned char *)malloc(capacity);
  size_t used = 0;
  while (block != NULL) {
    ssize_t n = ReadFully(fd, block + used, capacity - used);
    if (n < 0) break;
    used += (size_t)n;
    if (used < capacity) {
      *size = used;
      return block;
    }
    block = Grow(block, &capacity);
  }
  free(block);
  return NULL;
}

// The kind is asked before the open, so a device is never opened at all
// (opening some has effects of its own), and again after it, in case the name
// changed hands in between. The open never waits, even for a FIFO.
static int OpenPlainFile(const char *path, off_t *size, FileReadError *error) {
  struct stat st;
  if (stat(path, &st) != 0) {
    *error = ReadErrorOf(errno);
    return -1;
  }
  if ((*error = KindError(st.st_mode)) != kFileReadOk) return -1;
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = ReadErrorOf(errno);
    return -1;
  }
  *error = fstat(fd, &st) == 0 ? KindError(st.st_mode) : kFileReadFailed;
  if (*error != kFileReadOk) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // reads as usual
  *size = st.st_size;
  return fd;
}

// Files smaller than this are read: a map, faulted in and unmapped, costs
// more than copying a few pages (here a 64 KB file was read in 3 us and
// mapped and read in 8; at 256 KB both took 10; at 1 MB the map took half).
static const off_t kSmallestMapped = 256 * 1024;

// Pages are handed back in runs of this many bytes, not at every read.
static const size_t kLetGoStep = 1 << 20;

// The maps open now, for the fault handler and PlatformLetGoBefore; a file
// opened when every slot is taken is read instead.
struct OpenMap {
  const unsigned char *start, *end;
  const unsigned char *let_go_to;  // pages before it are handed back
};
enum { kMapSlots = 4 };
static OpenMap g_maps[kMapSlots];
static int g_map_count;
static struct sigaction g_before_map_fault;

static OpenMap *MapHolding(const void *at) {
  const unsigned char *byte = (const unsigned char *)at;
  for (OpenMap &map : g_maps)
    if (map.start != NULL && byte >= map.start && byte < map.end) return &map;
  return NULL;
}

// Async-signal-safe calls only. A fault outside every map is no business of
// ours: what was there before meets it, as the faulting read runs again.
static void MappedFileCutShort(int signal_number, siginfo_t *info, void *) {
  if (MapHolding(info->si_addr) != NULL) {
    static const char kSaid[] =
        "Orvane: The file was cut short by another program while it was "
        "read; nothing was saved.\n";
    ssize_t ignored = write(2, kSaid, sizeof kSaid - 1);
    (void)ignored;
    _exit(1);
  }
  sigaction(signal_number, &g_before_map_fault, NULL);
}

static void WatchMapFaults(int watch) {
  if (!watch) {
    sigaction(SIGBUS, &g_before_map_fault, NULL);
    return;
  }
  struct sigaction handle = {};
  handle.sa_sigaction = MappedFileCutShort;
  handle.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&handle.sa_mask);
  sigaction(SIGBUS, &handle, &g_before_map_fault);
}

static OpenMap *FreeMapSlot(void) {
  for (OpenMap &map : g_maps)
    if (map.start == NULL) return &map;
  return NULL;
}

// The file's first size bytes mapped, or NULL (mmap refused, no slot).
static void *MapOpenFile(int fd, off_t size) {
  OpenMap *slot = FreeMapSlot();
  if (slot == NULL || size < kSmallestMapped || (uint64_t)size >= SIZE_MAX)
    return NULL;
  void *view = mmap(NULL, (size_t)size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) return NULL;
  const unsigned char *start = (const unsigned char *)view;
  *slot = OpenMap{start, start + size, start};
  if (g_map_count++ == 0) WatchMapFaults(1);
  return view;
}

int PlatformMapFile(const char *path, MappedFile *file, FileReadError *error) {
  *file = MappedFile{};
  off_t claimed = 0;
  int fd = OpenPlainFile(path, &claimed, error);
  if (fd < 0) return 0;
  file->view = MapOpenFile(fd, claimed);
  if (file->view != NULL) {
    file->data = (const unsigned char *)file->view;
    file->size = (size_t)claimed;
  } else if ((uint64_t)claimed < SIZE_MAX) {
    // A byte beyond the claimed size, so that a file that grew is seen to.
    file->data = ReadToEnd(fd, (size_t)claimed + 1, &file->size);
  }
  close(fd);
  *error = file->data != NULL ? kFileReadOk : kFileReadFailed;
  if (file->data == NULL) file->size = 0;
  return file->data != NULL;
}

void PlatformUnmapFile(MappedFile *file) {
  if (file->view != NULL) {
    OpenMap *map = MapHolding(file->view);
    if (map != NULL) *map = OpenMap{};
    munmap(file->view, file->size);
    if (--g_map_count == 0) WatchMapFaults(0);
  } else {
    free((void *)file->data);
  }
  *file = MappedFile{};
}

// A walk that starts over from the beginning hands back from there again.
void PlatformLetGoBefore(const void *at) {
  OpenMap *map = MapHolding(at);
  if (map == NULL) return;
  const unsigned char *byte = (const unsigned char *)at;
  if (byte < map->let_go_to) map->let_go_to = map->start;
  if ((size_t)(byte - map->let_go_to) < kLetGoStep) return;
  size_t page = (size_t)sysconf(_SC_PAGESIZE);
  size_t from = (size_t)(map->let_go_to - map->start) / page * page;
  size_t to = (size_t)(byte - map->start) / page * page;
  madvise((void *)(map->start + from), to - from, MADV_DONTNEED);
  map->let_go_to = map->start + to;
}

// A small /proc file as text, read without buffering: each read of such a
// file is made fresh by the kernel.
static int ReadProcText(const char *path, char *text, size_t capacity) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  ssize_t n = ReadFully(fd, text, capacity - 1);
  close(fd);
  text[n > 0 ? n : 0] = '\0';
  return n > 0;
}

// MemAvailable: the kernel's estimate of what can be allocated without
// swapping, in kilobytes.
static uint64_t MachineAvailable(void) {
  char text[8192];
  if (!ReadProcText("/proc/meminfo", text, sizeof text)) return UINT64_MAX;
  const char *line = strstr(text, "MemAvailable:");
  if (line == NULL) return UINT64_MAX;
  unsigned long long kilobytes = strtoull(line + 13, NULL, 10);
  return kilobytes <= UINT64_MAX / 1024 ? kilobytes * 1024 : UINT64_MAX;
}

// What the address-space limit leaves above the process's mapped size (the
// first field of statm, in pages).
static uint64_t AddressSpaceLeft(void) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return UINT64_MAX;
  char text[256];
  long page = sysconf(_SC_PAGESIZE);
  if (page <= 0 || !ReadProcText("/proc/self/statm", text, sizeof text))
    return UINT64_MAX;
  uint64_t mapped = strtoull(text, NULL, 10) * (uint64_t)page;
  uint64_t cap = (uint64_t)limit.rlim_cur;
  return cap > mapped ? cap - mapped : 0;
}

uint64_t PlatformAvailableMemory(void) {
  uint64_t machine = MachineAvailable();
  uint64_t left = AddressSpaceLeft();
  return machine < left ? machine : left;
}

// ---- Processors and threads ----

int PlatformProcessorCount(void) {
#ifdef __linux__
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    int count = CPU_COUNT(&allowed);
    if (count > 0) return count;
  }
#endif
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? (int)online : 1;
}

struct PlatformThread {
  pthread_t id;
  PlatformThreadWork *work;
  void *context;
};

static void *RunThreadWork(void *record) {
  PlatformThread *thread = (PlatformThread *)record;
  thread->work(thread->context);
  return NULL;
}

PlatformThread *PlatformStartThread(PlatformThreadWork *work, void *context) {
  PlatformThread *thread = (PlatformThread *)malloc(sizeof *thread);
  if (thread == NULL) return NULL;
  thread->work = work;
  thread->context = context;
  pthread_attr_t attributes;
  int started = pthread_attr_init(&attributes) == 0;
  if (started) {
    pthread_attr_setstacksize(&attributes, kThreadStackBytes);
    started = pthread_create(&thread->id, &attributes, RunThreadWork,
                             thread) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (!started) {
    free(thread);
    return NULL;
  }
  return thread;
}

void PlatformJoinThread(PlatformThread *thread) {
  pthread_join(thread->id, NULL);
  free(thread);
}

// ---- Folder listing with Windows' name matching ----

// Folds A to Z only, as the Windows file system compares names.
static char FoldLetter(char c) {
  return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// "*" and "?" wildcards; on a mismatch after a "*", the star takes one more
// character and matching resumes, which keeps the work linear per star.
static int GlobMatches(const char *pattern, size_t pattern_length,
                       const char *name) {
  size_t p = 0, star = (size_t)-1;
  const char *resume = NULL;
  while (*name != '\0') {
    if (p < pattern_length && pattern[p] == '*') {
      star = p++;
      resume = name;
    } else if (p < pattern_length &&
               (pattern[p] == '?' ||
                FoldLetter(pattern[p]) == FoldLetter(*name))) {
      p++;
      name++;
    } else if (resume != NULL) {
      p = star + 1;
      name = ++resume;
    } else {
      return 0;
    }
  }
  while (p < pattern_length && pattern[p] == '*') p++;
  return p == pattern_length;
}

static int NameMatches(const char *pattern, const char *name) {
  size_t n = strlen(pattern);
  if (GlobMatches(pattern, n, name)) return 1;
  // Windows lets "name.*" match a name that has no extension at all.
  int any_extension = n >= 2 && pattern[n - 2] == '.' && pattern[n - 1] == '*';
  return any_extension && strchr(name, '.') == NULL &&
         GlobMatches(pattern, n - 2, name);
}

struct FolderSearch {
  DIR *folder;
  char *pattern;
};

static int IsFolderEntry(DIR *folder, const struct dirent *entry) {
#ifdef _DIRENT_HAVE_D_TYPE
  if (entry->d_type == DT_DIR) return 1;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return 0;
#endif
  struct stat st;
  return fstatat(dirfd(folder), entry->d_name, &st, 0) == 0 &&
         S_ISDIR(st.st_mode);
}

int PlatformFindNext(FolderSearch *search, FolderEntry *entry) {
  for (;;) {
    const struct dirent *found = readdir(search->folder);
    if (found == NULL) return 0;
    if (strlen(found->d_name) >= sizeof entry->name) continue;
    if (!NameMatches(search->pattern, found->d_name)) continue;
    strcpy(entry->name, found->d_name);
    entry->is_folder = IsFolderEntry(search->folder, found);
    return 1;
  }
}

FolderSearch *PlatformFindFirst(const char *search_path, FolderEntry *entry) {
  const char *pattern = search_path + SystemFileNameOffset(search_path);
  char *folder = FolderPart(search_path);
  DIR *dir = pattern[0] != '\0' ? opendir(folder) : NULL;
  free(folder);
  if (dir == NULL) return NULL;
  FolderSearch *search = (FolderSearch *)AllocOrAbort(sizeof(FolderSearch));
  search->folder = dir;
  search->pattern = CopyTextOrAbort(pattern);
  if (!PlatformFindNext(search, entry)) {
    PlatformFindClose(search);
    return NULL;
  }
  return search;
}

void PlatformFindClose(FolderSearch *search) {
  closedir(search->folder);
  free(search->pattern);
  free(search);
}

// ---- Running a program to its end ----

static int WaitForExit(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The program is started directly: no shell ever sees the words.
int PlatformRunAndWait(char *const *arguments, int) {
  pid_t pid;
  if (posix_spawnp(&pid, arguments[0], NULL, NULL, arguments, environ) != 0)
    return -1;
  return WaitForExit(pid);
}

// ---- The primitives of the safe save ----

// Saving through a symbolic link updates the file it points to rather than
// replacing the link with a plain file.
char *SystemSaveTarget(const char *path) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char *real = realpath(path, NULL);
    if (real != NULL) return real;
  }
  return CopyTextOrAbort(path);
}

// ---- Removing the fresh file when a signal ends the process ----

// What a signal does while the fresh file exists.
enum SignalRole {
  kStopRole,    // removes the file, then ends the process by default action
  kCrashRole,   // removes the file, then meets what was installed before
  kIgnoreRole,  // ignored, so the save fails and cleans up as after any error
};
struct WatchedSignal {
  int number;
  SignalRole role;
};
// Ctrl-C, a plain kill, a closed terminal and Ctrl-\ (SIGKILL cannot be
// caught); a fault or abort(); and reaching the file-size limit (ulimit -f),
// whose write then fails with EFBIG instead.
static const WatchedSignal kWatchedSignals[] = {
    {SIGINT, kStopRole},   {SIGTERM, kStopRole},  {SIGHUP, kStopRole},
    {SIGQUIT, kStopRole},  {SIGSEGV, kCrashRole}, {SIGBUS, kCrashRole},
    {SIGABRT, kCrashRole}, {SIGFPE, kCrashRole},  {SIGILL, kCrashRole},
    {SIGXFSZ, kIgnoreRole}};
enum { kWatchedCount = sizeof kWatchedSignals / sizeof kWatchedSignals[0] };
static struct sigaction g_before_watch[kWatchedCount];
static char *volatile g_watched;  // the file to remove; read by the handler
static int g_watching;            // the handlers are installed

// Async-signal-safe calls only. The signal is raised again, so whoever
// started the program sees how it ended: a stop by the default action, a
// crash by what was there before (the default, or a sanitizer's report). A
// real fault is raised too: were it not, returning would run the faulting
// instruction again, which ends the same way.
static void RemoveWatchedAndEnd(int signal_number) {
  if (g_watched != NULL) unlink(g_watched);
  for (int i = 0; i < kWatchedCount; i++) {
    if (kWatchedSignals[i].number != signal_number) continue;
    if (kWatchedSignals[i].role == kCrashRole)
      sigaction(signal_number, &g_before_watch[i], NULL);
    else
      signal(signal_number, SIG_DFL);
  }
  raise(signal_number);  // delivered once the handler returns
}

static void MaskStopSignals(int how, sigset_t *before) {
  sigset_t set;
  sigemptyset(&set);
  for (const WatchedSignal &watched : kWatchedSignals)
    if (watched.role == kStopRole) sigaddset(&set, watched.number);
  sigprocmask(how, &set, before);
}

// A signal that was ignored (nohup) stays ignored. Within the handler the
// other signals wait, so a second one cannot cut the first one's work short.
// The handler runs on the alternate stack when there is one (a sanitizer sets
// one up), so that even a stack overflow removes the file.
static void InstallWatchHandlers(void) {
  struct sigaction handle = {}, ignore = {};
  handle.sa_handler = RemoveWatchedAndEnd;
  handle.sa_flags = SA_ONSTACK;
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&handle.sa_mask);
  sigemptyset(&ignore.sa_mask);
  for (const WatchedSignal &watched : kWatchedSignals)
    sigaddset(&handle.sa_mask, watched.number);
  for (int i = 0; i < kWatchedCount; i++) {
    const WatchedSignal &watched = kWatchedSignals[i];
    sigaction(watched.number, NULL, &g_before_watch[i]);
    if (g_before_watch[i].sa_handler == SIG_IGN) continue;
    sigaction(watched.number, watched.role == kIgnoreRole ? &ignore : &handle,
              NULL);
  }
}

// Called with the stop signals blocked. path NULL: the handlers act, but
// there is no name to remove (an unnamed file goes with the process).
static void Watch(const char *path) {
  if (!g_watching) InstallWatchHandlers();
  g_watching = 1;
  char *previous = g_watched;
  g_watched = path != NULL ? CopyTextOrAbort(path) : NULL;
  free(previous);
}

// The stop signals are held back while the file is created and watched, so
// no moment exists in which it stands unwatched.
CreateResult SystemCreateNew(const char *path) {
  sigset_t before;
  MaskStopSignals(SIG_BLOCK, &before);
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  int error = errno;
  if (fd >= 0) {
    close(fd);
    Watch(path);
  }
  sigprocmask(SIG_SETMASK, &before, NULL);
  if (fd >= 0) return kCreated;
  if (error == EEXIST) return kAlreadyExists;
  if (error == EACCES || error == EPERM || error == EROFS) return kCreateDenied;
  return kCreateFailed;
}

void SystemForgetNew(void) {
  sigset_t before;
  MaskStopSignals(SIG_BLOCK, &before);
  if (g_watching) {
    for (int i = 0; i < kWatchedCount; i++)
      sigaction(kWatchedSignals[i].number, &g_before_watch[i], NULL);
    char *watched = g_watched;
    g_watched = NULL;
    g_watching = 0;
    free(watched);
  }
  sigprocmask(SIG_SETMASK, &before, NULL);
}

// ---- The unnamed fresh file ----

// The path the unnamed file is reached by while it has no name of its own.
enum { kUnnamedPathSize = 40 };
static void UnnamedPath(int fd, char *path) {
  snprintf(path, kUnnamedPathSize, "/proc/self/fd/%d", fd);
}

// O_TMPFILE makes the file in the target's folder (so that linking it there
// never crosses file systems) without a name, so a run killed outright
// leaves nothing. A file system without it (EOPNOTSUPP, or EISDIR from an
// older kernel), or a /proc that can't reach it, leaves the named file.
char *SystemCreateUnnamed(const char *target, int *handle) {
  char *folder = FolderPart(target);
  sigset_t before;
  MaskStopSignals(SIG_BLOCK, &before);
  int fd = open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  char path[kUnnamedPathSize];
  if (fd >= 0) UnnamedPath(fd, path);
  if (fd >= 0 && access(path, W_OK) != 0) {
    close(fd);
    fd = -1;
  }
  if (fd >= 0) Watch(NULL);
  sigprocmask(SIG_SETMASK, &before, NULL);
  free(folder);
  *handle = fd;
  return fd >= 0 ? CopyTextOrAbort(path) : NULL;
}

static int SyncFolderOf(const char *path);

// The stop signals are held back across the link and the watch, as in
// SystemCreateNew.
CreateResult SystemLinkUnnamed(const char *unnamed, const char *path,
                               int watch) {
  sigset_t before;
  MaskStopSignals(SIG_BLOCK, &before);
  int linked = linkat(AT_FDCWD, unnamed, AT_FDCWD, path, AT_SYMLINK_FOLLOW);
  int error = errno;
  if (linked == 0 && watch) Watch(path);
  sigprocmask(SIG_SETMASK, &before, NULL);
  if (linked == 0 && !watch) SyncFolderOf(path);  // the name is the final one
  errno = error;
  if (linked == 0) return kCreated;
  return error == EEXIST ? kAlreadyExists : kCreateFailed;
}

void SystemCloseUnnamed(int handle) { close(handle); }

static int SyncPath(const char *path, int flags) {
  int fd = open(path, flags | O_CLOEXEC);
  if (fd < 0) return 0;
  int ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

int SystemFlushToDisk(const char *path) { return SyncPath(path, O_RDONLY); }

// A replaced file keeps its permission bits, and its owner and group when we
// may give them (root may; then another user's photo stays theirs); a new
// one keeps what the exclusive create gave it (0666 less the umask). The
// owner goes first, since a change of owner clears set-id bits.
static int CopyOwnerAndPermissions(const char *from, const char *to) {
  struct stat st;
  if (stat(from, &st) != 0) return errno == ENOENT;
  int fd = open(to, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  if (fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Not ours to give: the group alone may still be kept.
    (void)!fchown(fd, (uid_t)-1, st.st_gid);
  }
  int ok = fchmod(fd, st.st_mode & 07777) == 0;
  close(fd);
  return ok;
}

int SystemIsReadOnly(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return (st.st_mode & 0222) == 0 || access(path, W_OK) != 0;
}

void SystemLastErrorText(char *buffer, size_t size) {
  snprintf(buffer, size, "%s.", strerror(errno));
}

// Makes a new name or a rename in the folder durable.
static int SyncFolderOf(const char *path) {
  char *folder = FolderPart(path);
  int ok = SyncPath(folder, O_RDONLY | O_DIRECTORY);
  free(folder);
  return ok;
}

int SystemReplace(const char *from, const char *to) {
  if (!CopyOwnerAndPermissions(to, from) || rename(from, to) != 0) return 0;
  SyncFolderOf(to);
  return 1;
}

void SystemRemoveFile(const char *path) { unlink(path); }
