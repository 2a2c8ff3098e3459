// POSIX services in place of the Windows ones the program was built around.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/cmdline.h"
#include "platform/platform.h"

extern char **environ;

const char kPathSeparator = '/';

static char *g_command_line;

static int NeedsQuotes(const char *arg) {
  return arg[0] == '\0' || arg[0] == '"' || strpbrk(arg, " \t\n\r") != NULL;
}

// Bytes one argument takes on the rebuilt line (quotes doubled and added).
static size_t QuotedLength(const char *arg) {
  if (!NeedsQuotes(arg)) return strlen(arg);
  size_t n = 2;
  for (const char *p = arg; *p; p++) n += (*p == '"') ? 2 : 1;
  return n;
}

static char *AppendQuoted(char *out, const char *arg) {
  if (!NeedsQuotes(arg)) {
    size_t n = strlen(arg);
    memcpy(out, arg, n);
    return out + n;
  }
  *out++ = '"';
  for (const char *p = arg; *p; p++) {
    if (*p == '"') *out++ = '"';
    *out++ = *p;
  }
  *out++ = '"';
  return out;
}

// Writes the arguments as one line that the program's own tokenizer splits
// back into exactly the same words.
void PlatformSetArguments(int argc, char **argv) {
  size_t total = 1;
  for (int i = 0; i < argc; i++) total += QuotedLength(argv[i]) + 1;
  char *line = (char *)malloc(total);
  if (line == NULL) abort();  // before any message can be shown
  char *out = line;
  for (int i = 0; i < argc; i++) {
    if (i > 0) *out++ = ' ';
    out = AppendQuoted(out, argv[i]);
  }
  *out = '\0';
  free(g_command_line);
  g_command_line = line;
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

int PlatformMessageBox(const char *text, const char *caption, int style) {
  if (style == kBoxWarning) {
    fprintf(stderr, "%s: %s\n", caption, text);
    fflush(stderr);
    return kBoxAnswerOk;
  }
  size_t n = strlen(text);
  fprintf(stdout, "%s\n%s%s", caption, text,
          (n > 0 && text[n - 1] == '\n') ? "" : "\n");
  fflush(stdout);
  return kBoxAnswerOk;
}

// The operation, parameters, folder and show command only mean something to
// the Windows shell; xdg-open picks the program from the file alone.
long PlatformShellOpen(const char *, const char *file, const char *,
                       const char *, int) {
  char program[] = "xdg-open";
  char *argv[] = {program, (char *)file, NULL};
  pid_t pid;
  if (posix_spawnp(&pid, program, NULL, NULL, argv, environ) != 0) return 2;
  return 42;
}

static const char *NonEmptyEnv(const char *name) {
  const char *value = getenv(name);
  return (value != NULL && value[0] != '\0') ? value : NULL;
}

static char *CopyText(const char *text) {
  char *copy = strdup(text);
  if (copy == NULL) abort();
  return copy;
}

char *PlatformUserDataRoot(void) {
  const char *value = NonEmptyEnv("AppData");
  if (value == NULL) value = NonEmptyEnv("XDG_DATA_HOME");
  if (value != NULL) return CopyText(value);
  const char *home = NonEmptyEnv("HOME");
  if (home == NULL) return NULL;
  size_t n = strlen(home);
  char *root = (char *)malloc(n + sizeof "/.local/share");
  if (root == NULL) abort();
  memcpy(root, home, n);
  memcpy(root + n, "/.local/share", sizeof "/.local/share");
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
  const char *slash = strrchr(search_path, '/');
  char *folder = CopyText(slash == NULL ? "." : search_path);
  if (slash == search_path)
    folder[1] = '\0';  // the root
  else if (slash != NULL)
    folder[slash - search_path] = '\0';
  const char *pattern = slash == NULL ? search_path : slash + 1;
  DIR *dir = pattern[0] != '\0' ? opendir(folder) : NULL;
  free(folder);
  if (dir == NULL) return NULL;
  FolderSearch *search = (FolderSearch *)malloc(sizeof(FolderSearch));
  if (search == NULL) abort();
  search->folder = dir;
  search->pattern = CopyText(pattern);
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

// The parameters are split as the program's own command line is, and the
// program is started directly: no shell ever sees them.
static char **BuildArgumentVector(const char *file, const char *parameters) {
  if (parameters == NULL) parameters = "";
  // Every word takes at least one character and one blank, or two quotes.
  int limit = (int)(strlen(parameters) / 2 + 1);
  char **argv = (char **)malloc(((size_t)limit + 2) * sizeof(char *));
  if (argv == NULL) return NULL;
  argv[0] = CopyText(file);
  TokenizeCommandLine(parameters, limit, argv + 1);
  return argv;
}

static void FreeArgumentVector(char **argv) {
  for (char **p = argv; *p != NULL; p++) free(*p);
  free(argv);
}

static int WaitForExit(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int PlatformRunAndWait(const char *file, const char *parameters, int) {
  if (file == NULL || file[0] == '\0') return -1;
  char **argv = BuildArgumentVector(file, parameters);
  if (argv == NULL) return -1;
  pid_t pid;
  int started = posix_spawnp(&pid, file, NULL, NULL, argv, environ) == 0;
  FreeArgumentVector(argv);
  return started ? WaitForExit(pid) : -1;
}

// ---- Safe save ----

static char *FolderOf(const char *path) {
  const char *slash = strrchr(path, '/');
  if (slash == NULL) return CopyText(".");
  if (slash == path) return CopyText("/");
  char *folder = CopyText(path);
  folder[slash - path] = '\0';
  return folder;
}

static const char *BaseNameOf(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash != NULL ? slash + 1 : path;
}

// Saving through a symbolic link updates the file it points to rather than
// replacing the link with a plain file.
static char *ResolveTarget(const char *path) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char *real = realpath(path, NULL);
    if (real != NULL) return real;
  }
  return CopyText(path);
}

static int CreateExclusive(const char *folder, const char *base, char **out) {
  static unsigned counter;
  size_t size = strlen(folder) + strlen(base) + 64;
  char *name = (char *)malloc(size);
  if (name == NULL) return -1;
  for (int attempt = 0; attempt < 100; attempt++) {
    // The name is cut so the temporary name stays within the system's limit.
    snprintf(name, size, "%s/.%.120s.%ld-%u.tmp", folder, base, (long)getpid(),
             counter++);
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *out = name;
      return fd;
    }
    if (errno != EEXIST) break;
  }
  free(name);
  return -1;
}

static void ReleaseSafeSave(SafeSave *save) {
  free(save->target);
  free(save->temp);
  save->target = NULL;
  save->temp = NULL;
}

int PlatformBeginSafeSave(const char *path, SafeSave *save) {
  save->target = ResolveTarget(path);
  save->temp = NULL;
  char *folder = FolderOf(save->target);
  int fd = CreateExclusive(folder, BaseNameOf(save->target), &save->temp);
  free(folder);
  if (fd < 0) {
    ReleaseSafeSave(save);
    return 0;
  }
  close(fd);
  return 1;
}

static int SyncPath(const char *path, int flags) {
  int fd = open(path, flags | O_CLOEXEC);
  if (fd < 0) return 0;
  int ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

// A replaced file keeps its permission bits; a new one keeps what the
// exclusive create gave it (0666 less the umask).
static int CopyPermissions(const char *from, const char *to) {
  struct stat st;
  if (stat(from, &st) != 0) return errno == ENOENT;
  return chmod(to, st.st_mode & 07777) == 0;
}

int PlatformFinishSafeSave(SafeSave *save) {
  int ok = SyncPath(save->temp, O_RDONLY) &&
           CopyPermissions(save->target, save->temp) &&
           rename(save->temp, save->target) == 0;
  if (!ok) {
    PlatformAbandonSafeSave(save);
    return 0;
  }
  char *folder = FolderOf(save->target);
  SyncPath(folder, O_RDONLY | O_DIRECTORY);  // makes the rename itself durable
  free(folder);
  ReleaseSafeSave(save);
  return 1;
}

void PlatformAbandonSafeSave(SafeSave *save) {
  if (save->temp != NULL) unlink(save->temp);
  ReleaseSafeSave(save);
}
