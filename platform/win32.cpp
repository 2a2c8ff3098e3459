// Windows services, called as the program was designed around them.
#include <windows.h>
#include <direct.h>
#include <shellapi.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "platform/system.h"

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

// No owner window, the default operation, and no window of the shell's own.
int PlatformOpenDocument(const char *file) {
  // The shell's answer is a number above 32 when it took the request.
  INT_PTR answer = (INT_PTR)ShellExecuteA(NULL, "", file, "", "C:\\", SW_HIDE);
  return answer > 32;
}

const int kUserDataRootRequired = 1;

char *PlatformUserDataRoot(void) {
  const char *value = NonEmptyEnv("AppData");
  return value != NULL ? CopyTextOrAbort(value) : NULL;
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

// The file's identity: its volume and its index there. A handle that asks
// for no access opens even a file another program holds, and a folder.
static int FileIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *info) {
  HANDLE file = CreateFileA(path, 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                            NULL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? 0
                                                                        : -1;
  }
  int known = GetFileInformationByHandle(file, info) ? 1 : -1;
  CloseHandle(file);
  return known;
}

int PlatformSameFile(const char *a, const char *b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  int known = FileIdentity(a, &first);
  if (known != 1) return known;
  known = FileIdentity(b, &second);
  if (known != 1) return known;
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

FILE *PlatformOpenForReading(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return NULL;
  return fopen(path, "r");
}

// ---- Whole files and memory ----

static FileReadError ReadErrorOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return kFileMissing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kFileDenied;
    default:
      return kFileReadFailed;
  }
}

// Opened as fopen opens for reading, so a file another program is writing
// can still be read. A folder is asked about first, as opening one fails
// with the same code as a denial; a pipe or a device is refused by its type,
// which the open gives without waiting.
static HANDLE OpenPlainFile(const char *path, FileReadError *error) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = kFileIsFolder;
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    *error = ReadErrorOf(GetLastError());
  } else if (GetFileType(file) != FILE_TYPE_DISK) {
    *error = kFileNotPlain;
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  return file;
}

// Up to capacity bytes, fewer when the file shrank since its size was asked.
// The count read, or -1 on an error.
static int64_t ReadUpTo(HANDLE file, unsigned char *block, size_t capacity) {
  size_t used = 0;
  while (used < capacity) {
    size_t left = capacity - used;
    DWORD chunk = left < (1u << 30) ? (DWORD)left : (1u << 30);
    DWORD got = 0;
    if (!ReadFile(file, block + used, chunk, &got, NULL)) return -1;
    if (got == 0) break;
    used += got;
  }
  return (int64_t)used;
}

// Files smaller than this are read: a view of a few pages costs more than
// copying them (the bound measured on POSIX).
static const uint64_t kSmallestMapped = 256 * 1024;

// The file's first size bytes in a read-only view; 0 when the system
// refuses (the caller reads it instead). While the view is open the file
// can be neither cut short nor replaced.
static int MapOpenFile(HANDLE file, uint64_t size, MappedFile *mapped) {
  if (size < kSmallestMapped || size >= SIZE_MAX) return 0;
  HANDLE mapping = CreateFileMappingA(file, NULL, PAGE_READONLY, 0, 0, NULL);
  if (mapping == NULL) return 0;
  void *view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, (SIZE_T)size);
  if (view == NULL) {
    CloseHandle(mapping);
    return 0;
  }
  *mapped = MappedFile{(const unsigned char *)view, (size_t)size, view,
                       mapping};
  return 1;
}

static unsigned char *ReadWhole(HANDLE file, uint64_t size, size_t *got) {
  unsigned char *block = (unsigned char *)malloc((size_t)size + 1);
  int64_t read = block != NULL ? ReadUpTo(file, block, (size_t)size) : -1;
  if (read < 0) {
    free(block);
    return NULL;
  }
  *got = (size_t)read;
  return block;
}

int PlatformMapFile(const char *path, MappedFile *mapped,
                    FileReadError *error) {
  *mapped = MappedFile{};
  HANDLE file = OpenPlainFile(path, error);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER length;
  if (GetFileSizeEx(file, &length) && (uint64_t)length.QuadPart < SIZE_MAX &&
      !MapOpenFile(file, (uint64_t)length.QuadPart, mapped))
    mapped->data = ReadWhole(file, (uint64_t)length.QuadPart, &mapped->size);
  CloseHandle(file);  // a view keeps its own hold on the file
  *error = mapped->data != NULL ? kFileReadOk : kFileReadFailed;
  return mapped->data != NULL;
}

void PlatformUnmapFile(MappedFile *mapped) {
  if (mapped->view != NULL) {
    UnmapViewOfFile(mapped->view);
    CloseHandle((HANDLE)mapped->mapping);
  } else {
    free((void *)mapped->data);
  }
  *mapped = MappedFile{};
}

// The working set trims itself as memory is needed; a view's pages are the
// file cache's already.
void PlatformLetGoBefore(const void *) {}

// The commit charge left bounds what the process may allocate; the address
// space left bounds it too, for a 32-bit process.
uint64_t PlatformAvailableMemory(void) {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;
  return status.ullAvailPageFile < status.ullAvailVirtual
             ? status.ullAvailPageFile
             : status.ullAvailVirtual;
}

// ---- Processors and threads ----

int PlatformProcessorCount(void) {
  DWORD_PTR process, system;
  int count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
    for (; process != 0; process &= process - 1) count++;
  return count > 0 ? count : 1;
}

struct PlatformThread {
  HANDLE handle;
  PlatformThreadWork *work;
  void *context;
};

static DWORD WINAPI RunThreadWork(LPVOID record) {
  PlatformThread *thread = (PlatformThread *)record;
  thread->work(thread->context);
  return 0;
}

PlatformThread *PlatformStartThread(PlatformThreadWork *work, void *context) {
  PlatformThread *thread = (PlatformThread *)malloc(sizeof *thread);
  if (thread == NULL) return NULL;
  thread->work = work;
  thread->context = context;
  thread->handle = CreateThread(NULL, kThreadStackBytes, RunThreadWork, thread,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
  if (thread->handle == NULL) {
    free(thread);
    return NULL;
  }
  return thread;
}

void PlatformJoinThread(PlatformThread *thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  free(thread);
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
  FolderSearch *search = (FolderSearch *)AllocOrAbort(sizeof(FolderSearch));
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

static int CountArguments(char *const *arguments) {
  int count = 0;
  while (arguments[count] != NULL) count++;
  return count;
}

// The shell takes the words after the program as one line, quoted as the
// program's own command line is.
int PlatformRunAndWait(char *const *arguments, int show) {
  int count = CountArguments(arguments);
  char *parameters =
      JoinArgumentLine(count - 1, (const char *const *)arguments + 1);
  SHELLEXECUTEINFOA info;
  memset(&info, 0, sizeof info);
  // The record's own size: the 32-bit figure would make 64-bit Windows
  // refuse the call.
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = arguments[0];
  info.lpParameters = parameters;
  info.nShow = show;
  ShellExecuteExA(&info);
  free(parameters);
  if (info.hProcess == NULL) return -1;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code;
  int result = GetExitCodeProcess(info.hProcess, &code) ? (int)code : -1;
  CloseHandle(info.hProcess);
  return result;
}

// ---- The primitives of the safe save ----

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

size_t SystemFileNameOffset(const char *path) {
  size_t offset = (path[0] != '\0' && path[1] == ':') ? 2 : 0;
  for (size_t i = 0; path[i] != '\0'; i++)
    if (IsSeparator(path[i])) offset = i + 1;
  return offset;
}

char *SystemSaveTarget(const char *path) { return CopyTextOrAbort(path); }

CreateResult SystemCreateNew(const char *path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS) return kAlreadyExists;
    if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT)
      return kCreateDenied;
    return kCreateFailed;
  }
  CloseHandle(file);
  return kCreated;
}

// Nothing is watched: the program runs in the graphical subsystem without a
// console, so Ctrl-C never reaches it, and the end of a session or the task
// manager ends it as a kill would, with no code of its own running.
void SystemForgetNew(void) {}

// Windows makes no file without a name: the named one is always used.
char *SystemCreateUnnamed(const char *, int *handle) {
  *handle = -1;
  return NULL;
}

CreateResult SystemLinkUnnamed(const char *, const char *, int) {
  return kCreateFailed;
}

void SystemCloseUnnamed(int) {}

int SystemFlushToDisk(const char *path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int ok = FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return ok;
}

// Windows refuses to replace a read-only file; asking first keeps that rule
// where the move itself would not (Wine).
int SystemIsReadOnly(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

void SystemLastErrorText(char *buffer, size_t size) {
  DWORD error = GetLastError();
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error,
      0, buffer, (DWORD)size, NULL);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' ||
                   buffer[n - 1] == ' '))
    buffer[--n] = '\0';
  if (n == 0) snprintf(buffer, size, "System error %lu.", (unsigned long)error);
}

// The move returns only when it is on disk.
int SystemReplace(const char *from, const char *to) {
  return !SystemIsReadOnly(to) &&
         MoveFileExA(from, to,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void SystemRemoveFile(const char *path) { DeleteFileA(path); }
