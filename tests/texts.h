// The library's C texts as std::string, so that tests compare them whole.
#ifndef ORVANE_TESTS_TEXTS_H
#define ORVANE_TESTS_TEXTS_H

#include <string>
#include <vector>

typedef std::vector<std::string> Texts;

// Takes over a new heap text: returns its contents ("<NULL>" for NULL) and
// frees it.
std::string Own(char *text);

// The texts of a NULL-terminated array, such as a StringList, in order. The
// array stays the caller's.
Texts TextsOf(const char *const *list);

#endif
