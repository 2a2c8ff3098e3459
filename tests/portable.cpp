#include "tests/portable.h"

#include <stdlib.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <direct.h>
#include <process.h>
#else
#include <unistd.h>
#endif

void SetEnv(const char *name, const std::string &value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char *name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes the variable here
#else
  unsetenv(name);
#endif
}

bool MakeTestFolder(const std::string &path) {
#ifdef _WIN32
  return _mkdir(path.c_str()) == 0;
#else
  return mkdir(path.c_str(), 0700) == 0;
#endif
}

bool IsFolder(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

unsigned long ThisProcessId() {
#ifdef _WIN32
  return (unsigned long)_getpid();
#else
  return (unsigned long)getpid();
#endif
}
