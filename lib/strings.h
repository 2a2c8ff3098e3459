// String helpers over NUL-terminated 8-bit texts.
//
// Ownership: every routine that returns char * from a const input hands over a
// new heap text that the caller releases with free. Routines documented as
// "in place" change the caller's buffer and allocate nothing.
// When memory runs out, the allocating routines end the program with
// "out of memory" or "Out of memory"; only ReplaceAll returns NULL instead.
#ifndef ORVANE_LIB_STRINGS_H
#define ORVANE_LIB_STRINGS_H

#include <stddef.h>
#include <stdint.h>

char *StrDup(const char *text);
void *AllocOrDie(size_t size);  // uninitialised block

// Takes over a heap text that others may hold for the rest of the run (a
// path handed out, a page given to the shell) and keeps it until the process
// ends. Returns text.
const char *KeepForRun(char *text);
char *Concat2(const char *s1, const char *s2);
char *Concat3(const char *s1, const char *s2, const char *s3);
char *Concat5(const char *s1, const char *s2, const char *s3, const char *s4,
              const char *s5);

// Every non-overlapping occurrence of search replaced, left to right. NULL when
// text is NULL or memory runs out; an empty or NULL search gives a plain copy.
char *ReplaceAll(const char *text, const char *search, const char *replacement);

// Releases *slot, stores a copy of text there and returns it.
char *StrAssign(char **slot, const char *text);

// The words, each preceded by one blank (so the result begins with a blank).
char *JoinWithBlanks(int count, const char *const *words);
// At most max characters of text from position start; start and max >= 0.
char *SubString(const char *text, int start, int max);
// A copy without one leading and one trailing double quote.
char *Unquote(const char *text);
// A copy enclosed in double quotes.
char *Quote(const char *text);

// Copies at most n characters and a terminator; destination holds n + 1 bytes.
char *StrCopyMax(char *destination, const char *source, int n);
// Orders a against b, folding only A to Z. Bytes from 0x80 sort first.
int StrICmp(const char *a, const char *b);
// The same over at most n characters, stopping at the end of either text.
int StrNICmp(const char *a, const char *b, size_t n);

// In place: drops one trailing LF.
char *ChopNewline(char *text);
// In place: drops trailing CRs and LFs, turns the others into blanks.
char *FlattenLineEnds(char *text);
// In place: drops trailing blanks (not tabs).
char *TrimTrailingBlanks(char *text);
// The first character that is neither blank nor tab.
const char *SkipBlanks(const char *text);

int IsBlankText(const char *text);        // only blanks and tabs, or empty
int LooksLikeInteger(const char *text);   // blanks, a sign, then a digit
int IsNumberText(const char *text);       // a whole decimal number text

// The whole text is one number as the command line takes it, with nothing
// after it: white space, a sign, then digits (IsWholeNumber), or digits with
// a fraction and an exponent (IsPlainDecimal). "8OO", "800px" and "1e2" are
// no whole numbers; "inf" and "0x10" are no plain decimals.
int IsWholeNumber(const char *text);
int IsPlainDecimal(const char *text);

// atof's reading, the same on every system: after white space, a sign and
// the longest decimal number (digits, a fraction, an exponent) up to the
// first other character; 0.0 when no digit comes. "inf", "infinity" and
// "nan" in any case are the values they name; "0x10" is 0, never hex. Beyond
// the range of a double: infinity.
double DecimalValue(const char *text);

// A count of bytes as a setting gives it: digits, then K, M or G in either
// case for thousands, millions or billions (decimal, as ImageMagick's
// resource limits and this program's own "MB" figures count), and after
// one an optional B: "500000", "100M", "2gb". 1 with *bytes set; 0 for any
// other text, or a count past 2^64.
int ByteCountValue(const char *text, uint64_t *bytes);

#endif
