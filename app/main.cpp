// The POSIX entry: hand the arguments to the platform layer and run.
#include <string.h>

#include "app/startup.h"
#include "lib/strings.h"
#include "platform/platform.h"

static char kUsageCommand[] = "-?";
static char kVersionCommand[] = "-ver";

// Unix users type --help and --version first. Alone on the line (a -dbg=
// aside, which start-up takes out before anything else) they mean -? and
// -ver; anywhere else they stay ordinary words.
static void TranslateUnixSpellings(int argc, char **argv) {
  int debug = 0;
  for (int i = 1; i < argc && debug == 0; i++)
    if (StrNICmp(argv[i], "-dbg=", 5) == 0) debug = i;
  if (argc - 1 - (debug != 0) != 1) return;
  int only = (debug == 1) ? 2 : 1;
  if (strcmp(argv[only], "--help") == 0) argv[only] = kUsageCommand;
  if (strcmp(argv[only], "--version") == 0) argv[only] = kVersionCommand;
}

int main(int argc, char **argv) {
  TranslateUnixSpellings(argc, argv);
  PlatformSetArguments(argc, argv);
  return AppMain(nullptr, nullptr, nullptr, 0);
}
