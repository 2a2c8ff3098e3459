#include "app/cmdline.h"

#include <stdlib.h>
#include <string.h>

#include "lib/strings.h"

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
