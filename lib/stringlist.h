// Lists of owned strings, plain string arrays, and in-place word splitting.
//
// Ownership: a StringList is a heap array of heap strings closed by a NULL
// pointer; the list owns every string in it and stores copies of the texts it
// is given. Strings that Get, Set, Insert and Append return belong to the
// list: they stay valid until their entry is replaced or deleted or the list
// is freed. Release a list with StringListFree. Routines taking a StringList *
// may replace the array and store the new one in the caller's variable.
// When a new array or copy cannot be allocated the program ends with
// "out of memory". The split routines allocate nothing: their words point
// into the caller's text.
#ifndef ORVANE_LIB_STRINGLIST_H
#define ORVANE_LIB_STRINGLIST_H

#include <stddef.h>

typedef char **StringList;

// n fresh empty strings; a negative n counts as 0.
StringList StringListNew(int n);
void StringListFree(StringList list);
int StringListCount(StringList list);
StringList StringListCopy(StringList list);

// Afterwards the list holds exactly n >= 0 strings: the first ones kept,
// strings beyond n released, new positions filled with empty strings.
void StringListResize(StringList *list, int n);

// The following grow the list with empty strings when n is past its end, and
// answer NULL for a negative n, changing nothing.
char *StringListSet(StringList *list, int n, const char *text);
char *StringListGet(StringList *list, int n);
char *StringListInsert(StringList *list, int n, const char *text);

// Releases the string at n and closes the gap; the array keeps its size.
// Nothing happens when n is negative or not below the count.
void StringListDelete(StringList *list, int n);
char *StringListAppend(StringList *list, const char *text);

// Appending many strings in a row: the builder keeps spare room in the
// array, so n appends cost one pass rather than n copies of the array.
// builder.list is a proper StringList at every moment, released as any other.
struct StringListBuilder {
  StringList list;
  int count;
  size_t capacity;  // slots, the closing NULL's included
};
StringListBuilder StringListBuilderStart(void);  // an empty list
// Appends a copy of text and returns it.
char *StringListBuilderAppend(StringListBuilder *builder, const char *text);

// Release the strings of a plain array (not the array itself): every one
// before the NULL, or those of the first n that are not NULL.
void FreeStrings(char **strings);
void FreeStringsN(int n, char **strings);

// Splits text in place into at most max words, stored in words (room for
// max + 1 pointers, NULL after the last). Blanks before a word are skipped; a
// word that starts with a double quote runs to the next one, separators
// included. Two separators in a row give an empty word between them; a
// separator at the very end gives none. Returns the number of words.
int SplitAt(char separator, char *text, int max, char **words);
int SplitWords(char *text, int max, char **words);  // blank-separated

// Among the first n lines, the first of the form key=value (indentation
// allowed, key in any letter case, no blank before the "=", "#" lines
// skipped). Returns where the value starts inside that line, or NULL.
const char *FindKeyValue(const char *key, int n, const char *const *lines);

#endif
