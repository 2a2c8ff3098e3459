#include "lib/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lib/report.h"
#include "lib/strings.h"
#include "lib/tokenize.h"
#include "platform/platform.h"

enum { kCopyBufferSize = 512 };

static int NeedsSeparator(const char *folder) {
  size_t n = strlen(folder);
  return n > 0 && folder[n - 1] != kPathSeparator;
}

char *PathJoin(const char *folder, const char *name) {
  const char separator[] = {kPathSeparator, '\0'};
  return Concat3(folder, NeedsSeparator(folder) ? separator : "", name);
}

int PathJoinInto(int capacity, char *buffer, const char *folder,
                 const char *name) {
  size_t folder_length = strlen(folder);
  size_t name_length = strlen(name);
  int separator = NeedsSeparator(folder);
  if (capacity <= 0 ||
      folder_length + name_length + separator >= (size_t)capacity)
    return 0;
  memcpy(buffer, folder, folder_length);
  if (separator) buffer[folder_length] = kPathSeparator;
  memcpy(buffer + folder_length + separator, name, name_length + 1);
  return 1;
}

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

static int HasDrive(const char *path) {
  char c = path[0];
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':';
}

// A network path's two equal leading separators stay two; other runs of
// leading separators shrink to one.
static size_t RootLength(const char *path, size_t length) {
  if (length >= 2 && path[0] == path[1] &&
      (length == 2 || !IsSeparator(path[2])))
    return 2;
  return 1;
}

// Copies path[0, length) into out, each run of separators reduced to one but
// for the root.
static void CopyCollapsed(char *out, const char *path, size_t length) {
  size_t i = 0;
  if (IsSeparator(path[0])) {
    size_t root = RootLength(path, length);
    memcpy(out, path, root);
    out += root;
    while (i < length && IsSeparator(path[i])) i++;
  }
  for (; i < length; i++) {
    if (IsSeparator(path[i]) && i > 0 && IsSeparator(path[i - 1])) continue;
    *out++ = path[i];
  }
  *out = '\0';
}

char *FolderOfPath(const char *path) {
  size_t drive = HasDrive(path) ? 2 : 0;
  const char *rest = path + drive;
  size_t end = strlen(rest);
  while (end > 0 && IsSeparator(rest[end - 1])) end--;  // trailing separators
  if (end == 0 && rest[0] != '\0') end = 1;             // the root itself
  while (end > 0 && !IsSeparator(rest[end - 1])) end--;  // last component
  if (end == 0) return StrDup(".");
  size_t root = IsSeparator(rest[0]) ? RootLength(rest, strlen(rest)) : 1;
  while (end > root && IsSeparator(rest[end - 1])) end--;  // before the name
  char *folder = (char *)AllocOrDie(drive + end + 1);
  memcpy(folder, path, drive);
  CopyCollapsed(folder + drive, rest, end);
  return folder;
}

unsigned long CurrentProcessId(void) { return PlatformProcessId(); }

int FileExists(const char *path) {
  FILE *file = PlatformOpenForReading(path);
  if (file == NULL) return 0;
  fclose(file);
  return 1;
}

// Every folder lists at least "." and "..".
int FolderExists(const char *path) {
  char *pattern = PathJoin(path, "*");
  FolderEntry entry;
  FolderSearch *search = PlatformFindFirst(pattern, &entry);
  free(pattern);
  if (search == NULL) return 0;
  PlatformFindClose(search);
  return 1;
}

// Copies until a read delivers nothing. Returns 1, or 0 when a read or a
// write failed.
static int CopyStream(FILE *from, FILE *to) {
  char buffer[kCopyBufferSize];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, from)) > 0) {
    if (fwrite(buffer, 1, n, to) != n) return 0;
  }
  return !ferror(from);
}

// The copy goes to a fresh file that replaces the target only once it is
// complete: a full disk or a copy onto itself never loses the old text.
int CopyTextFile(const char *source, const char *target) {
  FILE *from = PlatformOpenForReading(source);
  if (from == NULL) ErrorExitF("Can't open %s", source);
  SafeSave save = {NULL, NULL, "", -1};
  FILE *to = NULL;
  if (PlatformBeginSafeSave(target, &save)) to = fopen(save.temp, "w");
  if (to == NULL) {
    if (save.temp != NULL) PlatformAbandonSafeSave(&save);
    ErrorExitF("Can't create %s", target);
  }
  int copied = CopyStream(from, to);
  copied = (fclose(to) == 0) && copied;
  fclose(from);
  if (!copied) {
    PlatformAbandonSafeSave(&save);
    ErrorExitF("Can't write %s", target);
  }
  if (!PlatformFinishSafeSave(&save)) ErrorExitF("Can't write %s", target);
  return 1;
}

static StringList ListEntries(const char *folder, const char *pattern,
                              int want_folders) {
  StringListBuilder found = StringListBuilderStart();
  char *search_path = PathJoin(folder, pattern[0] != '\0' ? pattern : "*.*");
  FolderEntry entry;
  FolderSearch *search = PlatformFindFirst(search_path, &entry);
  free(search_path);
  if (search == NULL) return found.list;
  do {
    if (strcmp(entry.name, ".") == 0 || strcmp(entry.name, "..") == 0) continue;
    if ((entry.is_folder != 0) == (want_folders != 0))
      StringListBuilderAppend(&found, entry.name);
  } while (PlatformFindNext(search, &entry));
  PlatformFindClose(search);
  return found.list;
}

StringList ListFiles(const char *folder, const char *pattern) {
  return ListEntries(folder, pattern, 0);
}

StringList ListFolders(const char *folder, const char *pattern) {
  return ListEntries(folder, pattern, 1);
}

// The parameters are split as the program's own command line is, and the
// platform starts the program with exactly those words.
int RunAndWait(const char *file, const char *parameters, int show) {
  if (file == NULL || file[0] == '\0') return -1;
  if (parameters == NULL) parameters = "";
  // Every word takes at least one character and one blank, or two quotes.
  int limit = (int)(strlen(parameters) / 2 + 1);
  char **arguments = (char **)ReallocOrExit(NULL, (size_t)limit + 2,
                                            sizeof(char *), "out of memory");
  arguments[0] = StrDup(file);
  TokenizeCommandLine(parameters, limit, arguments + 1);
  int status = PlatformRunAndWait(arguments, show);
  FreeStrings(arguments);
  free(arguments);
  return status;
}

char *ChangeExtension(const char *path, const char *extension) {
  size_t path_length = strlen(path);
  char *result = (char *)AllocOrDie(path_length + strlen(extension) + 1);
  memcpy(result, path, path_length + 1);
  char *last = strrchr(result, kPathSeparator);
  last = (last != NULL) ? last + 1 : result;
  char *dot = strrchr(last, '.');
  strcpy(dot != NULL ? dot : result + path_length, extension);
  return result;
}

static int IsDriveOrSpecialName(const char *path, size_t length) {
  size_t drive = (length > 1 && path[1] == ':') ? 2 : 0;
  const char *rest = path + drive;
  size_t n = length - drive;
  return n == 0 ||
         (n == 1 && (rest[0] == '.' || rest[0] == '/' || rest[0] == '\\')) ||
         (n == 2 && rest[0] == '.' && rest[1] == '.');
}

// The separator of path[0, length) is its last "/", or failing that its last
// "\". Returns its position, or -1 when there is none.
static long LastSeparator(const char *path, size_t length) {
  for (size_t i = length; i-- > 0;)
    if (path[i] == '/') return (long)i;
  for (size_t i = length; i-- > 0;)
    if (path[i] == '\\') return (long)i;
  return -1;
}

// Walks up from the path to the outermost parent that is no special name,
// then creates them outermost first. A loop rather than recursion, so that a
// path of many components cannot exhaust the stack.
int MakeFolders(const char *path) {
  if (path == NULL) return 0;
  size_t length = strlen(path);
  if (IsDriveOrSpecialName(path, length)) return 0;
  char *folder = StrDup(path);
  size_t *ends = (size_t *)AllocOrDie((length + 1) * sizeof(size_t));
  size_t links = 0;
  ends[links++] = length;
  for (long separator;
       (separator = LastSeparator(folder, ends[links - 1])) >= 0;) {
    if (IsDriveOrSpecialName(folder, (size_t)separator)) break;
    ends[links++] = (size_t)separator;
  }
  while (links-- > 0) {
    char saved = folder[ends[links]];
    folder[ends[links]] = '\0';
    PlatformMakeFolder(folder);  // an existing folder is no failure here
    folder[ends[links]] = saved;
  }
  free(ends);
  free(folder);
  return 1;
}

// The size by seeking, as a stream gives it; -1 when it has none (a pipe).
static long StreamSize(FILE *file) {
  if (fseek(file, 0, SEEK_END) != 0) return -1;
  long size = ftell(file);
  if (size < 0 || fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

char *ReadAll(const char *path) {
  FILE *file = PlatformOpenForReading(path);
  if (file == NULL) ErrorExitF("Can't read file: %s", path);
  long size = StreamSize(file);
  if (size < 0) {
    fclose(file);
    ErrorExitF("Can't read file: %s", path);
  }
  char *text = (char *)ReallocOrExit(NULL, (size_t)size + 1, 1,
                                     "ReadAll: Out of memory");
  // Text mode may deliver fewer bytes than the size (CR LF read as LF).
  size_t read = fread(text, 1, (size_t)size, file);
  text[read] = '\0';
  fclose(file);
  return text;
}

static char *UserDataRootOrDie(void) {
  char *root = PlatformUserDataRoot();
  if (root == NULL) ErrorExitF("The APPDATA environment variable is missing.");
  return root;
}

char *AppDataPath(const char *maker, const char *program) {
  char *root = UserDataRootOrDie();
  char *maker_folder = PathJoin(root, maker);
  char *path = PathJoin(maker_folder, program);
  free(maker_folder);
  free(root);
  return path;
}

char *EnsureUserFile(const char *default_folder, const char *maker,
                     const char *program, const char *file_name) {
  char *root = UserDataRootOrDie();
  char *maker_folder = PathJoin(root, maker);
  char *program_folder = PathJoin(maker_folder, program);
  char *target = PathJoin(program_folder, file_name);
  if (!FileExists(target)) {
    MakeFolders(maker_folder);
    MakeFolders(program_folder);
    char *source = PathJoin(default_folder, file_name);
    CopyTextFile(source, target);
    free(source);
  }
  free(program_folder);
  free(maker_folder);
  free(root);
  return target;
}
