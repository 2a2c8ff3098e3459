#include "app/startup.h"

#include <stdlib.h>

#include "app/cmdline.h"
#include "app/interpreter.h"
#include "app/process.h"
#include "lib/paths.h"
#include "lib/strings.h"
#include "log/log.h"
#include "platform/platform.h"

enum { kProgramPathCapacity = 512 };

char *ProgramDir(void) {
  char path[kProgramPathCapacity];
  int length = PlatformProgramPath(path, kProgramPathCapacity);
  if (length <= 0 || length >= kProgramPathCapacity) path[0] = '\0';
  return FolderOfPath(path);
}

// Editing a photo never writes the data folder, so a Linux service or cron
// job without HOME runs all the same; on Windows, where AppData is always
// set, its absence means a broken environment and ends the program.
static char *UserDataPathAtStart(void) {
  char *root = PlatformUserDataRoot();
  if (root == NULL && !kUserDataRootRequired) return NULL;
  free(root);
  return AppDataPath(MakerName, ProgramName);
}

int AppMain(void *, void *, char *, int) {
  static ArgVector args;
  args.count = TokenizeCommandLine(PlatformCommandLine(), kMaxArguments,
                                   args.entries);
  ProgramFolder = ProgramDir();
  UserDataPath = UserDataPathAtStart();
  char *log_name = Concat2(ProgramName, ".log");
  LogInTemp(log_name);
  free(log_name);
  DebugLevel = atoi(TakeOption(&args.count, args.entries, "-dbg=", "0"));
  if (DebugLevel > 0) LogF("Cmdline: %s", PlatformCommandLine());
  return RunCommand(args.count, args.entries);
}
