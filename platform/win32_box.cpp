// The message box, in a file of its own so tests can link a stand-in that
// never waits for a click.
#include <windows.h>

#include "platform/platform.h"

int PlatformMessageBox(const char *text, const char *caption, int style) {
  return MessageBoxA(NULL, text, caption, (UINT)style);
}
