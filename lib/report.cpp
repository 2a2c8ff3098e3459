#include "lib/report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lib/identity.h"
#include "platform/platform.h"

const char kCutMark[] = " ...";

const char *AppTitle(void) {
  static char caption[64];
  snprintf(caption, sizeof caption, "%s Ver %s", ProgramName, VersionText);
  return caption;
}

int InfoBox(const char *text) {
  return PlatformMessageBox(text, AppTitle(), kBoxInformation);
}

int WarningBox(const char *text) {
  return PlatformMessageBox(text, AppTitle(), kBoxWarning);
}

void ErrorExit(const char *text) {
  WarningBox(text);
  exit(1);
}

// The formatter gets one byte less than the buffer, so a cut text always has
// room for its mark; a failed format is marked like a cut one.
void FormatMessageText(char *buffer, const char *format, va_list values) {
  const size_t limit = kMessageBufferSize - 1;
  const size_t mark = sizeof kCutMark - 1;
  int n = vsnprintf(buffer, limit, format, values);
  if (n <= 0 || (size_t)n >= limit) {
    memcpy(buffer + limit - mark, kCutMark, mark);
    buffer[limit] = '\0';
  }
}

int InfoBoxF(const char *format, ...) {
  char buffer[kMessageBufferSize];
  va_list values;
  va_start(values, format);
  FormatMessageText(buffer, format, values);
  va_end(values);
  return InfoBox(buffer);
}

void ErrorExitF(const char *format, ...) {
  char buffer[kMessageBufferSize];
  va_list values;
  va_start(values, format);
  FormatMessageText(buffer, format, values);
  va_end(values);
  ErrorExit(buffer);
}

void *ReallocOrExit(void *block, size_t count, size_t size,
                    const char *message) {
  if (size != 0 && count > (size_t)-1 / size) ErrorExitF("%s", message);
  // A zero size may legitimately give NULL; one byte never does but for want
  // of memory.
  size_t bytes = count * size;
  void *resized = realloc(block, bytes != 0 ? bytes : 1);
  if (resized == NULL) ErrorExitF("%s", message);
  return resized;
}
