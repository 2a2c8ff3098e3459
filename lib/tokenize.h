// Splitting a command line into words: the program's own line, and the
// parameters of the programs it starts.
//
// Ownership: every word is a new heap text, the caller's to free.
#ifndef ORVANE_LIB_TOKENIZE_H
#define ORVANE_LIB_TOKENIZE_H

// Splits line into at most limit new heap texts in entries (room for limit + 1
// pointers), NULL after the last. Blanks are space, tab, LF and CR; a word that
// starts with a double quote runs to the closing quote, "" inside it standing
// for one quote. Returns the number of entries; "out of memory" is fatal.
int TokenizeCommandLine(const char *line, int limit, char **entries);

#endif
