#include "tests/portable.h"

#include <sys/stat.h>

bool IsFolder(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}
