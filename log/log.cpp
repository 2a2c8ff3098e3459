#include "log/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "lib/paths.h"
#include "lib/strings.h"
#include "platform/platform.h"

enum { kLineSize = 513, kDateSize = 40 };

static const char *LogPath;
static char LogLastDay[kDateSize];

// The path is handed out, so it is kept for the rest of the run: a caller
// may hold it after the log has moved on to another path.
const char *LogInTemp(const char *file_name) {
  return LogSetPath(KeepForRun(PathJoin(PlatformTempFolder(), file_name)));
}

const char *LogSetPath(const char *path) {
  LogPath = path;
  LogLastDay[0] = '\0';
  return path;
}

static int WriteLine(const char *line) {
  if (LogPath == NULL) return 0;
  FILE *file = PlatformOpenLogFile(LogPath);
  if (file == NULL) return 0;
  fprintf(file, "%s\n", line);
  return fclose(file) == 0 ? 0 : -1;
}

int LogRawF(const char *format, ...) {
  char line[kLineSize];
  va_list values;
  va_start(values, format);
  vsnprintf(line, sizeof line, format, values);  // cuts, never overruns
  va_end(values);
  return WriteLine(line);
}

static int LogText(const char *text) {
  time_t now = time(NULL);
  char date[kDateSize] = "";
  char clock[9] = "";
  const struct tm *local = localtime(&now);
  if (local != NULL) {
    strftime(date, kDateSize - 2, "%a %d %b %Y", local);
    strftime(clock, sizeof clock, "%H:%M:%S", local);
  }
  if (strcmp(date, LogLastDay) != 0) {
    StrCopyMax(LogLastDay, date, kDateSize - 1);
    LogRawF("*\n* %s\n*", LogLastDay);
  }
  return LogRawF("%s %s", clock, text);
}

int LogF(const char *format, ...) {
  char text[kLineSize];
  va_list values;
  va_start(values, format);
  vsnprintf(text, sizeof text, format, values);
  va_end(values);
  return LogText(text);
}

void LogArgs(const char *text, int count, const char *const *arguments) {
  size_t total = strlen(text) + 1;
  for (int i = 0; i < count; i++) total += strlen(arguments[i]) + 1;
  char *line = (char *)malloc(total);
  if (line == NULL) return;  // a lost log line is no reason to stop
  char *out = line;
  size_t n = strlen(text);
  memcpy(out, text, n);
  out += n;
  for (int i = 0; i < count; i++) {
    n = strlen(arguments[i]);
    *out++ = ' ';
    memcpy(out, arguments[i], n);
    out += n;
  }
  *out = '\0';
  LogText(line);
  free(line);
}
