#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/portable.h"

const char kFolderSeparator = '/';

void SetEnv(const char *name, const std::string &value) {
  setenv(name, value.c_str(), 1);
}

void UnsetEnv(const char *name) { unsetenv(name); }

bool MakeTestFolder(const std::string &path) {
  return mkdir(path.c_str(), 0700) == 0;
}

bool MakeFolderLink(const std::string &target, const std::string &link) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

unsigned long ThisProcessId() { return (unsigned long)getpid(); }
