#include <direct.h>
#include <process.h>
#include <stdlib.h>

#include "tests/portable.h"

const char kFolderSeparator = '\\';

void SetEnv(const char *name, const std::string &value) {
  _putenv_s(name, value.c_str());
}

void UnsetEnv(const char *name) {
  _putenv_s(name, "");  // an empty value removes the variable here
}

bool MakeTestFolder(const std::string &path) {
  return _mkdir(path.c_str()) == 0;
}

bool MakeFolderLink(const std::string &, const std::string &link) {
  return _mkdir(link.c_str()) == 0;  // links need privileges here
}

unsigned long ThisProcessId() { return (unsigned long)_getpid(); }
