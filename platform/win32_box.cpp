// The message box, in a file of its own so tests can link a stand-in that
// never waits for a click.
#include <windows.h>

#include "platform/platform.h"

int PlatformMessageBox(const char *text, const char *caption, BoxKind kind) {
  UINT style = (kind == kBoxWarning) ? MB_ICONWARNING : MB_OK;
  return MessageBoxA(NULL, text, caption, style) == IDOK ? kBoxAnswerOk : 0;
}
