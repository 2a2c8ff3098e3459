// Stand-in for the Windows message box in test programs: it writes what the
// box would show, as the terminal version does, and never waits for a click.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "platform/platform.h"

int PlatformMessageBox(const char *text, const char *caption, BoxKind kind) {
  // Binary streams, so captured output has the same line ends as on POSIX.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return PlatformWriteBoxToTerminal(text, caption, kind);
}
