// Windows services, called as the program was designed around them.
#include <windows.h>
#include <direct.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

const char kPathSeparator = '\\';

// Windows keeps the raw command line itself; the C runtime's split is unused.
void PlatformSetArguments(int, char **) {}

const char *PlatformCommandLine(void) { return GetCommandLineA(); }

int PlatformProgramPath(char *buffer, int capacity) {
  if (capacity <= 0) return 0;
  DWORD n = GetModuleFileNameA(NULL, buffer, (DWORD)capacity);
  if (n == 0) buffer[0] = '\0';
  return (int)n;  // capacity when the path was cut short
}

long PlatformShellOpen(const char *operation, const char *file,
                       const char *parameters, const char *directory,
                       int show) {
  return (long)(INT_PTR)ShellExecuteA(NULL, operation, file, parameters,
                                      directory, show);
}

static const char *NonEmptyEnv(const char *name) {
  const char *value = getenv(name);
  return (value != NULL && value[0] != '\0') ? value : NULL;
}

static char *CopyText(const char *text) {
  char *copy = _strdup(text);
  if (copy == NULL) abort();
  return copy;
}

char *PlatformUserDataRoot(void) {
  const char *value = NonEmptyEnv("AppData");
  return value != NULL ? CopyText(value) : NULL;
}

const char *PlatformTempFolder(void) {
  const char *value = NonEmptyEnv("TEMP");
  return value != NULL ? value : "C:\\temp";
}

// A reparse point (a link) could aim our appends at another file.
FILE *PlatformOpenLogFile(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
    return NULL;
  return fopen(path, "a");
}

unsigned long PlatformProcessId(void) { return GetCurrentProcessId(); }

int PlatformMakeFolder(const char *path) {
  return _mkdir(path) == 0 ? 0 : -1;
}

FILE *PlatformOpenForReading(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return NULL;
  return fopen(path, "r");
}

// ---- Folder listing ----

struct FolderSearch {
  HANDLE handle;
};

static void CopyEntry(const WIN32_FIND_DATAA *found, FolderEntry *entry) {
  strncpy(entry->name, found->cFileName, sizeof entry->name - 1);
  entry->name[sizeof entry->name - 1] = '\0';
  entry->is_folder = (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FolderSearch *PlatformFindFirst(const char *search_path, FolderEntry *entry) {
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileA(search_path, &found);
  if (handle == INVALID_HANDLE_VALUE) return NULL;
  FolderSearch *search = (FolderSearch *)malloc(sizeof(FolderSearch));
  if (search == NULL) abort();
  search->handle = handle;
  CopyEntry(&found, entry);
  return search;
}

int PlatformFindNext(FolderSearch *search, FolderEntry *entry) {
  WIN32_FIND_DATAA found;
  if (!FindNextFileA(search->handle, &found)) return 0;
  CopyEntry(&found, entry);
  return 1;
}

void PlatformFindClose(FolderSearch *search) {
  FindClose(search->handle);
  free(search);
}

// ---- Running a program to its end ----

int PlatformRunAndWait(const char *file, const char *parameters, int show) {
  SHELLEXECUTEINFOA info;
  memset(&info, 0, sizeof info);
  // The record's own size: the 32-bit figure would make 64-bit Windows
  // refuse the call.
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = show;
  ShellExecuteExA(&info);
  if (info.hProcess == NULL) return -1;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code;
  int result = GetExitCodeProcess(info.hProcess, &code) ? (int)code : -1;
  CloseHandle(info.hProcess);
  return result;
}

// ---- Safe save ----

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

// Index of the separator that ends the folder part of path ("C:" counts as
// a folder); -1 for none.
static int FolderLength(const char *path) {
  int last = (path[0] != '\0' && path[1] == ':') ? 1 : -1;
  for (int i = 0; path[i] != '\0'; i++)
    if (IsSeparator(path[i])) last = i;
  return last;
}

static int CreateExclusive(const char *path, char **out) {
  static unsigned counter;
  int folder = FolderLength(path);
  const char *base = path + folder + 1;
  size_t size = strlen(path) + 64;
  char *name = (char *)malloc(size);
  if (name == NULL) return 0;
  for (int attempt = 0; attempt < 100; attempt++) {
    // The name is cut so the temporary name stays within the system's limit.
    snprintf(name, size, "%.*s.%.120s.%lu-%u.tmp", folder + 1, path, base,
             (unsigned long)GetCurrentProcessId(), counter++);
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      *out = name;
      return 1;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  free(name);
  return 0;
}

static void ReleaseSafeSave(SafeSave *save) {
  free(save->target);
  free(save->temp);
  save->target = NULL;
  save->temp = NULL;
}

int PlatformBeginSafeSave(const char *path, SafeSave *save) {
  save->target = CopyText(path);
  save->temp = NULL;
  if (!CreateExclusive(path, &save->temp)) {
    ReleaseSafeSave(save);
    return 0;
  }
  return 1;
}

static int FlushToDisk(const char *path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int ok = FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return ok;
}

// Windows refuses to replace a read-only file; asking first keeps that rule
// where the move itself would not (Wine).
static int IsReadOnly(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

// The move replaces the target in one step and returns only when it is on
// disk, so the saved-over file is either the old one or the new one.
int PlatformFinishSafeSave(SafeSave *save) {
  int ok = !IsReadOnly(save->target) && FlushToDisk(save->temp) &&
           MoveFileExA(save->temp, save->target,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    PlatformAbandonSafeSave(save);
    return 0;
  }
  ReleaseSafeSave(save);
  return 1;
}

void PlatformAbandonSafeSave(SafeSave *save) {
  if (save->temp != NULL) DeleteFileA(save->temp);
  ReleaseSafeSave(save);
}
