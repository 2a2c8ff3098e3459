// The program's argument vector: the raw command line split into words
// (TokenizeCommandLine, in lib/tokenize.h), and recognised words taken out.
//
// Ownership: every entry is its own heap text owned by the vector. Removal only
// takes the pointer out of the array; the text stays allocated, because
// TakeOption's result points into it.
#ifndef ORVANE_APP_CMDLINE_H
#define ORVANE_APP_CMDLINE_H

#include "lib/tokenize.h"

enum { kMaxArguments = 30 };

struct ArgVector {
  int count;                           // entries in use, program path included
  char *entries[kMaxArguments + 1];    // entries[count] is always NULL
};

// Removes the first entry equal to flag (letter case aside). Returns 1, or 0
// with the vector unchanged.
int TakeFlag(int *count, char **entries, const char *flag);

// Removes the first entry that begins with prefix (letter case aside) and
// returns the text after the prefix; returns fallback itself when none does.
const char *TakeOption(int *count, char **entries, const char *prefix,
                       const char *fallback);

#endif
