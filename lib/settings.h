// Readers of two plain-text configuration formats. Each call reads the file
// afresh; nothing stays open and nothing is cached.
//
// Ownership: LookupSetting's value lives in the caller's buffer; LoadLines
// hands over a new StringList, released with StringListFree.
#ifndef ORVANE_LIB_SETTINGS_H
#define ORVANE_LIB_SETTINGS_H

#include "lib/stringlist.h"

// The value of key in a file of "key = value" lines: the first line whose key
// equals key in any letter case, or whose key is "*", wins. Lines are read
// into buffer (size bytes, at least 2) and may arrive in pieces when longer.
// Indented lines count; empty lines, "#" lines and lines without "=" are
// skipped. Trailing blanks leave key and value; blanks after the "=" stay.
// Returns a pointer into buffer, or NULL when the file cannot be read or no
// line matches.
char *LookupSetting(const char *path, const char *key, int size, char *buffer);

// The lines of the section headed "[section]" (in the first column, any
// letter case, anything may follow the "]"), up to the first line of only
// blanks and tabs or the end of the file, each without its line end. Lines
// are read 254 characters at a time. Stores the list in *lines (empty when
// there is no such section) and returns its count. Fatal when the file cannot
// be opened: "LoadLines. %s file missing".
int LoadLines(const char *path, const char *section, StringList *lines);

#endif
