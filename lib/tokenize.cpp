#include "lib/tokenize.h"

#include <stdlib.h>
#include <string.h>

#include "lib/report.h"
#include "lib/strings.h"

static int IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
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
  char *token = (char *)ReallocOrExit(NULL, size, 1, "out of memory");
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
