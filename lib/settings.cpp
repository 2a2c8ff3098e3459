#include "lib/settings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lib/report.h"
#include "lib/strings.h"
#include "platform/platform.h"

enum { kSectionLineSize = 256, kSectionReadLimit = 255 };

static int KeyMatches(const char *line_key, const char *key) {
  return strcmp(line_key, "*") == 0 || StrICmp(line_key, key) == 0;
}

// Splits a settings line at its first "=" in place. Returns the value, or
// NULL for a line that holds no setting.
static char *SplitSetting(char *line, char **key) {
  ChopNewline(line);
  line = (char *)SkipBlanks(line);
  if (line[0] == '\0' || line[0] == '#') return NULL;
  char *equals = strchr(line, '=');
  if (equals == NULL) return NULL;
  *equals = '\0';
  *key = TrimTrailingBlanks(line);
  return TrimTrailingBlanks(equals + 1);
}

char *LookupSetting(const char *path, const char *key, int size, char *buffer) {
  // Below two bytes a read can deliver nothing, and the loop would never end.
  if (size < 2) return NULL;
  FILE *file = PlatformOpenForReading(path);
  if (file == NULL) return NULL;
  char *value = NULL;
  while (value == NULL && fgets(buffer, size, file) != NULL) {
    char *line_key;
    char *candidate = SplitSetting(buffer, &line_key);
    if (candidate != NULL && KeyMatches(line_key, key)) value = candidate;
  }
  fclose(file);
  return value;
}

// Reads up to the header line. Returns 1 when it was found.
static int FindSectionHeader(FILE *file, const char *header) {
  size_t length = strlen(header);
  char line[kSectionLineSize];
  while (fgets(line, kSectionReadLimit, file) != NULL) {
    if (StrNICmp(line, header, length) == 0) return 1;
  }
  return 0;
}

// Appends the section's lines up to its first blank one. The builder keeps
// spare room, so a long section costs no more than one pass.
static void ReadSectionBody(FILE *file, StringListBuilder *builder) {
  char line[kSectionLineSize];
  while (fgets(line, kSectionReadLimit, file) != NULL) {
    ChopNewline(line);
    if (IsBlankText(line)) break;
    StringListBuilderAppend(builder, line);
  }
}

int LoadLines(const char *path, const char *section, StringList *lines) {
  FILE *file = PlatformOpenForReading(path);
  if (file == NULL) ErrorExitF("LoadLines. %s file missing", path);
  StringListBuilder builder = StringListBuilderStart();
  char header[kSectionLineSize];
  int length = snprintf(header, sizeof header, "[%s]", section);
  // A header cut to fit the buffer would match the wrong lines: such a long
  // name finds no section at all.
  if (length > 0 && length < (int)sizeof header &&
      FindSectionHeader(file, header))
    ReadSectionBody(file, &builder);
  fclose(file);
  *lines = builder.list;
  return builder.count;
}
