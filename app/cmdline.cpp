#include "app/cmdline.h"

#include <stdlib.h>
#include <string.h>

#include "app/messages.h"
#include "lib/strings.h"

static int IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

static char *AllocOrOutOfMemory(size_t size) {
  char *block = (char *)malloc(size);
  if (block == NULL) ErrorExitF("out of memory");
  return block;
}

// Reads a quoted word starting behind its opening quote. Returns where
// scanning goes on: behind the closing quote, or at the end of the line.
static const char *ReadQuoted(const char *p, char *token) {
  while (*p != '\0') {
    if (*p == '"') {
      if (p[1] != '"') {
        p++;  // the closing quote
        break;
      }
      p++;  // a doubled quote stands for one
    }
    *token++ = *p++;
  }
  *token = '\0';
  return p;
}

static const char *ReadBare(const char *p, char *token) {
  while (*p != '\0' && !IsBlank(*p)) *token++ = *p++;
  *token = '\0';
  return p;
}

int TokenizeCommandLine(const char *line, int limit, char **entries) {
  size_t size = strlen(line) + 1;
  char *token = AllocOrOutOfMemory(size);
  int count = 0;
  const char *p = line;
  while (count < limit) {
    while (IsBlank(*p)) p++;
    if (*p == '\0') break;
    p = (*p == '"') ? ReadQuoted(p + 1, token) : ReadBare(p, token);
    entries[count++] = StrDup(token);
  }
  free(token);
  entries[count] = NULL;
  return count;
}

static void RemoveEntry(int *count, char **entries, int i) {
  memmove(&entries[i], &entries[i + 1], sizeof entries[0] * (*count - i - 1));
  entries[*count - 1] = NULL;
  (*count)--;
}

int TakeFlag(int *count, char **entries, const char *flag) {
  for (int i = 0; i < *count; i++) {
    if (StrICmp(entries[i], flag) == 0) {
      RemoveEntry(count, entries, i);
      return 1;
    }
  }
  return 0;
}

const char *TakeOption(int *count, char **entries, const char *prefix,
                       const char *fallback) {
  size_t n = strlen(prefix);
  for (int i = 0; i < *count; i++) {
    if (StrNICmp(entries[i], prefix, n) == 0) {
      const char *value = entries[i] + n;
      RemoveEntry(count, entries, i);
      return value;
    }
  }
  return fallback;
}
