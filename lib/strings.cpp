#include "lib/strings.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "lib/report.h"

char *StrDup(const char *text) {
  size_t n = strlen(text) + 1;
  char *copy = (char *)ReallocOrExit(NULL, n, 1, "out of memory");
  return (char *)memcpy(copy, text, n);
}

void *AllocOrDie(size_t size) {
  return ReallocOrExit(NULL, size, 1, "Out of memory");
}

// Held in one array that stays reachable, so the texts are neither freed nor
// reported as leaks.
const char *KeepForRun(char *text) {
  static char **kept;
  static size_t count;
  kept = (char **)ReallocOrExit(kept, count + 1, sizeof *kept, "out of memory");
  kept[count++] = text;
  return text;
}

// Joins up to five texts (NULL ends the list early) into one new text.
static char *JoinTexts(const char *const *parts, int count) {
  size_t total = 1;
  for (int i = 0; i < count; i++) total += strlen(parts[i]);
  char *result = (char *)AllocOrDie(total);
  char *out = result;
  for (int i = 0; i < count; i++) {
    size_t n = strlen(parts[i]);
    memcpy(out, parts[i], n);
    out += n;
  }
  *out = '\0';
  return result;
}

char *Concat2(const char *s1, const char *s2) {
  const char *parts[] = {s1, s2};
  return JoinTexts(parts, 2);
}

char *Concat3(const char *s1, const char *s2, const char *s3) {
  const char *parts[] = {s1, s2, s3};
  return JoinTexts(parts, 3);
}

char *Concat5(const char *s1, const char *s2, const char *s3, const char *s4,
              const char *s5) {
  const char *parts[] = {s1, s2, s3, s4, s5};
  return JoinTexts(parts, 5);
}

static size_t CountOccurrences(const char *text, const char *search) {
  size_t count = 0;
  size_t step = strlen(search);
  for (const char *p = strstr(text, search); p != NULL;
       p = strstr(p + step, search))
    count++;
  return count;
}

char *ReplaceAll(const char *text, const char *search,
                 const char *replacement) {
  if (text == NULL) return NULL;
  if (replacement == NULL) replacement = "";
  if (search == NULL || search[0] == '\0') return strdup(text);
  size_t search_length = strlen(search);
  size_t replacement_length = strlen(replacement);
  size_t count = CountOccurrences(text, search);
  char *result = (char *)malloc(strlen(text) - count * search_length +
                                count * replacement_length + 1);
  if (result == NULL) return NULL;
  char *out = result;
  for (const char *p = text;;) {
    const char *match = strstr(p, search);
    size_t keep = match != NULL ? (size_t)(match - p) : strlen(p);
    memcpy(out, p, keep);
    out += keep;
    if (match == NULL) break;
    memcpy(out, replacement, replacement_length);
    out += replacement_length;
    p = match + search_length;
  }
  *out = '\0';
  return result;
}

// Copies first, so that text may be the string the slot holds.
char *StrAssign(char **slot, const char *text) {
  char *copy = StrDup(text);
  free(*slot);
  *slot = copy;
  return copy;
}

char *JoinWithBlanks(int count, const char *const *words) {
  size_t total = 1;
  for (int i = 0; i < count; i++) total += strlen(words[i]) + 1;
  char *result = (char *)AllocOrDie(total);
  char *out = result;
  for (int i = 0; i < count; i++) {
    size_t n = strlen(words[i]);
    *out++ = ' ';
    memcpy(out, words[i], n);
    out += n;
  }
  *out = '\0';
  return result;
}

// A negative start or max gives the empty text; the block is only as large
// as what is copied, so a max of INT_MAX costs nothing.
char *SubString(const char *text, int start, int max) {
  size_t length = strlen(text);
  size_t n = 0;
  if (start >= 0 && max > 0 && (size_t)start < length) {
    n = length - (size_t)start;
    if (n > (size_t)max) n = (size_t)max;
  }
  char *result = (char *)AllocOrDie(n + 1);
  memcpy(result, text + (n > 0 ? start : 0), n);
  result[n] = '\0';
  return result;
}

char *Unquote(const char *text) {
  char *copy = StrDup(text[0] == '"' ? text + 1 : text);
  size_t n = strlen(copy);
  if (n > 0 && copy[n - 1] == '"') copy[n - 1] = '\0';
  return copy;
}

char *Quote(const char *text) {
  size_t n = strlen(text);
  char *result = (char *)AllocOrDie(n + 3);
  result[0] = '"';
  memcpy(result + 1, text, n);
  result[n + 1] = '"';
  result[n + 2] = '\0';
  return result;
}

char *StrCopyMax(char *destination, const char *source, int n) {
  int i = 0;
  for (; i < n && source[i] != '\0'; i++) destination[i] = source[i];
  destination[i] = '\0';
  return destination;
}

// Folds A to Z only, as tolower does in the default locale.
static signed char FoldCase(signed char c) {
  return (c >= 'A' && c <= 'Z') ? (signed char)(c - 'A' + 'a') : c;
}

int StrICmp(const char *a, const char *b) {
  return StrNICmp(a, b, (size_t)-1);
}

int StrNICmp(const char *a, const char *b, size_t n) {
  for (; n > 0 && *a != '\0' && *b != '\0'; a++, b++, n--) {
    signed char x = FoldCase((signed char)*a);
    signed char y = FoldCase((signed char)*b);
    if (x < y) return -1;
    if (x > y) return 1;
  }
  return n == 0 ? 0 : (signed char)*a - (signed char)*b;
}

char *ChopNewline(char *text) {
  size_t n = strlen(text);
  if (n > 0 && text[n - 1] == '\n') text[n - 1] = '\0';
  return text;
}

static int IsLineEnd(char c) { return c == '\r' || c == '\n'; }

char *FlattenLineEnds(char *text) {
  size_t n = strlen(text);
  while (n > 0 && IsLineEnd(text[n - 1])) text[--n] = '\0';
  for (char *p = text; *p != '\0'; p++)
    if (IsLineEnd(*p)) *p = ' ';
  return text;
}

char *TrimTrailingBlanks(char *text) {
  size_t n = strlen(text);
  while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
  return text;
}

const char *SkipBlanks(const char *text) {
  while (*text == ' ' || *text == '\t') text++;
  return text;
}

int IsBlankText(const char *text) { return *SkipBlanks(text) == '\0'; }

static int IsDigit(char c) { return c >= '0' && c <= '9'; }
static int IsSign(char c) { return c == '+' || c == '-'; }

static const char *SkipSpaces(const char *text) {
  while (*text == ' ') text++;
  return text;
}

static const char *SkipDigits(const char *text, int *count) {
  while (IsDigit(*text)) {
    text++;
    (*count)++;
  }
  return text;
}

int LooksLikeInteger(const char *text) {
  const char *p = SkipSpaces(text);
  if (IsSign(*p)) p++;
  return IsDigit(*p);
}

int IsNumberText(const char *text) {
  int mantissa_digits = 0;
  int exponent_digits = 0;
  const char *p = SkipSpaces(text);
  if (IsSign(*p)) p++;
  p = SkipDigits(p, &mantissa_digits);
  if (*p == '.') p = SkipDigits(p + 1, &mantissa_digits);
  if (*p == 'e' || *p == 'E') p++;
  if (IsSign(*p)) p++;
  p = SkipDigits(p, &exponent_digits);
  p = SkipSpaces(p);
  return *p == '\0' && mantissa_digits > 0;
}

static int IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The end of the decimal number that starts at text (after its sign), or
// text itself when no digit comes.
static const char *DecimalEnd(const char *text) {
  int digits = 0, exponent_digits = 0;
  const char *p = SkipDigits(text, &digits);
  if (*p == '.') p = SkipDigits(p + 1, &digits);
  if (digits == 0) return text;
  if (*p != 'e' && *p != 'E') return p;
  const char *exponent = p + 1;
  if (IsSign(*exponent)) exponent++;
  const char *end = SkipDigits(exponent, &exponent_digits);
  return exponent_digits > 0 ? end : p;
}

int IsWholeNumber(const char *text) {
  int digits = 0;
  const char *p = SkipSpaces(text);
  if (IsSign(*p)) p++;
  p = SkipDigits(p, &digits);
  return digits > 0 && *p == '\0';
}

int IsPlainDecimal(const char *text) {
  const char *p = SkipSpaces(text);
  if (IsSign(*p)) p++;
  const char *end = DecimalEnd(p);
  return end != p && *end == '\0';
}

int ByteCountValue(const char *text, uint64_t *bytes) {
  uint64_t value = 0;
  const char *p = text;
  for (; IsDigit(*p); p++) {
    if (value > (UINT64_MAX - (uint64_t)(*p - '0')) / 10) return 0;
    value = value * 10 + (uint64_t)(*p - '0');
  }
  if (p == text) return 0;
  const char kUnits[] = "kmg";
  const char *unit = strchr(kUnits, *p | 0x20);
  if (*p != '\0' && unit != NULL) {
    for (const char *u = kUnits; u <= unit; u++) {
      if (value > UINT64_MAX / 1000) return 0;
      value *= 1000;
    }
    p++;
    if (*p == 'B' || *p == 'b') p++;
  }
  if (*p != '\0') return 0;
  *bytes = value;
  return 1;
}

// The C libraries differ on everything but plain decimals (msvcrt's atof
// reads neither "nan" nor hex, glibc's reads both), so only a plain decimal,
// copied out alone, ever reaches strtod.
double DecimalValue(const char *text) {
  const char *p = text;
  while (IsSpace(*p)) p++;
  double sign = (*p == '-') ? -1.0 : 1.0;
  if (IsSign(*p)) p++;
  if (StrNICmp(p, "inf", 3) == 0) return sign * HUGE_VAL;
  if (StrNICmp(p, "nan", 3) == 0) return NAN;
  const char *end = DecimalEnd(p);
  if (end == p) return 0.0;
  char *number = SubString(p, 0, (int)(end - p));
  double value = strtod(number, NULL);
  free(number);
  return sign * value;
}
