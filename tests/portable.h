// The few system calls tests make for themselves, the same on POSIX and on
// Windows.
#ifndef ORVANE_TESTS_PORTABLE_H
#define ORVANE_TESTS_PORTABLE_H

#include <string>

void SetEnv(const char *name, const std::string &value);
void UnsetEnv(const char *name);
// Creates one folder; true on success.
bool MakeTestFolder(const std::string &path);
bool IsFolder(const std::string &path);
unsigned long ThisProcessId();

#endif
