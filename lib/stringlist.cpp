#include "lib/stringlist.h"

#include <stdlib.h>
#include <string.h>

#include "lib/report.h"
#include "lib/strings.h"

// Room for count pointers. The size is worked out in size_t, because callers
// may ask for positions near INT_MAX.
static char **AllocSlots(size_t count) {
  return (char **)ReallocOrExit(NULL, count, sizeof(char *), "out of memory");
}

static void FillWithEmptyStrings(char **slots, size_t from, size_t to) {
  for (size_t i = from; i < to; i++) slots[i] = StrDup("");
}

StringList StringListNew(int n) {
  if (n < 0) n = 0;
  char **list = AllocSlots((size_t)n + 1);
  FillWithEmptyStrings(list, 0, (size_t)n);
  list[n] = NULL;
  return list;
}

void StringListFree(StringList list) {
  FreeStrings(list);
  free(list);
}

int StringListCount(StringList list) {
  int count = 0;
  while (list[count] != NULL) count++;
  return count;
}

StringList StringListCopy(StringList list) {
  int count = StringListCount(list);
  char **copy = AllocSlots((size_t)count + 1);
  for (int i = 0; i < count; i++) copy[i] = StrDup(list[i]);
  copy[count] = NULL;
  return copy;
}

// Sizes are size_t here, so that growing to position INT_MAX cannot overflow.
static void ResizeTo(StringList *list, size_t size) {
  size_t count = (size_t)StringListCount(*list);
  char **resized = AllocSlots(size + 1);
  size_t kept = count < size ? count : size;
  memcpy(resized, *list, kept * sizeof(char *));
  FillWithEmptyStrings(resized, kept, size);
  resized[size] = NULL;
  for (size_t i = size; i < count; i++) free((*list)[i]);
  free(*list);
  *list = resized;
}

void StringListResize(StringList *list, int n) {
  ResizeTo(list, n > 0 ? (size_t)n : 0);
}

char *StringListSet(StringList *list, int n, const char *text) {
  if (n < 0) return NULL;
  // Copied first: text may be the very string it replaces.
  char *copy = StrDup(text);
  if (n >= StringListCount(*list)) ResizeTo(list, (size_t)n + 1);
  free((*list)[n]);
  (*list)[n] = copy;
  return copy;
}

char *StringListGet(StringList *list, int n) {
  if (n < 0) return NULL;
  if (n >= StringListCount(*list)) ResizeTo(list, (size_t)n + 1);
  return (*list)[n];
}

char *StringListInsert(StringList *list, int n, const char *text) {
  if (n < 0) return NULL;
  char *copy = StrDup(text);
  size_t count = (size_t)StringListCount(*list);
  size_t at = (size_t)n;
  size_t last = count > at ? count : at;  // position of the last string after
  char **grown = AllocSlots(last + 2);
  memcpy(grown, *list, count * sizeof(char *));
  FillWithEmptyStrings(grown, count, at);
  memmove(&grown[at + 1], &grown[at], (last - at) * sizeof(char *));
  grown[at] = copy;
  grown[last + 1] = NULL;
  free(*list);
  *list = grown;
  return copy;
}

void StringListDelete(StringList *list, int n) {
  int count = StringListCount(*list);
  if (n < 0 || n >= count) return;
  free((*list)[n]);
  memmove(&(*list)[n], &(*list)[n + 1], (size_t)(count - n) * sizeof(char *));
}

char *StringListAppend(StringList *list, const char *text) {
  return StringListInsert(list, StringListCount(*list), text);
}

StringListBuilder StringListBuilderStart(void) {
  StringListBuilder builder = {StringListNew(0), 0, 1};
  return builder;
}

char *StringListBuilderAppend(StringListBuilder *builder, const char *text) {
  size_t needed = (size_t)builder->count + 2;
  if (needed > builder->capacity) {
    size_t grown = builder->capacity * 2;
    if (grown < needed) grown = needed;
    builder->list = (char **)ReallocOrExit(builder->list, grown, sizeof(char *),
                                           "out of memory");
    builder->capacity = grown;
  }
  char *copy = StrDup(text);
  builder->list[builder->count++] = copy;
  builder->list[builder->count] = NULL;
  return copy;
}

void FreeStrings(char **strings) {
  for (char **p = strings; *p != NULL; p++) free(*p);
}

void FreeStringsN(int n, char **strings) {
  for (int i = 0; i < n; i++) free(strings[i]);  // free(NULL) does nothing
}

// Steps to the first end character or to the terminator, whichever comes
// first. The terminator itself never counts as found, so a NUL separator
// cannot lead past the end of the text.
static char *FindWordEnd(char *p, char end) {
  while (*p != '\0' && *p != end) p++;
  return p;
}

int SplitAt(char separator, char *text, int max, char **words) {
  int i = 0;
  char *p = text;
  while (i < max) {
    while (*p == ' ') p++;
    if (*p == '\0') break;
    char end = separator;
    if (*p == '"') {
      p++;
      end = '"';
    }
    words[i++] = p;
    p = FindWordEnd(p, end);
    if (*p != '\0') *p++ = '\0';
  }
  words[i] = NULL;
  return i;
}

int SplitWords(char *text, int max, char **words) {
  return SplitAt(' ', text, max, words);
}

const char *FindKeyValue(const char *key, int n, const char *const *lines) {
  size_t k = strlen(key);
  for (int i = 0; i < n; i++) {
    const char *line = SkipBlanks(lines[i]);
    if (line[0] == '#') continue;
    // A match over k characters means the line holds at least k, so
    // line[k] is at worst its terminator.
    if (StrNICmp(line, key, k) != 0 || line[k] != '=') continue;
    return SkipBlanks(line + k + 1);
  }
  return NULL;
}
