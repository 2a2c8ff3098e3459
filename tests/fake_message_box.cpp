// Stand-in for the Windows message box in test programs: it writes what the
// box would show, as the terminal version does, and never waits for a click.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

int PlatformMessageBox(const char *text, const char *caption, int style) {
  // Binary streams, so captured output has the same line ends as on POSIX.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
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
