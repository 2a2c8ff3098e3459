#include "app/startup.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/cmdline.h"
#include "app/interpreter.h"
#include "app/messages.h"
#include "app/process.h"
#include "lib/paths.h"
#include "lib/strings.h"
#include "log/log.h"
#include "platform/platform.h"

enum { kProgramPathCapacity = 512 };

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

char *ProgramDir(void) {
  char path[kProgramPathCapacity];
  int length = PlatformProgramPath(path, kProgramPathCapacity);
  if (length <= 0 || length >= kProgramPathCapacity) path[0] = '\0';
  return FolderOfPath(path);
}

int AppMain(void *, void *, char *, int) {
  static ArgVector args;
  snprintf(VersionText, sizeof VersionText, "%d.%02d", kVersionMajor,
           kVersionMinor);
  args.count = TokenizeCommandLine(PlatformCommandLine(), kMaxArguments,
                                   args.entries);
  ProgramFolder = ProgramDir();
  UserDataPath = AppDataPath(MakerName, ProgramName);
  char *log_name = Concat2(ProgramName, ".log");
  LogInTemp(log_name);
  free(log_name);
  DebugLevel = atoi(TakeOption(&args.count, args.entries, "-dbg=", "0"));
  if (DebugLevel > 0) LogF("Cmdline: %s", PlatformCommandLine());
  return RunCommand(args.count, args.entries);
}
