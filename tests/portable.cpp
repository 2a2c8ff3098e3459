#include "tests/portable.h"

#include <stdlib.h>
#include <sys/stat.h>

bool IsFolder(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

// Only the first change of a variable knows what it was before.
void ScopedEnv::Remember(const char *name) {
  for (const Saved &saved : saved_)
    if (saved.name == name) return;
  const char *value = getenv(name);
  saved_.push_back({name, value != nullptr, value != nullptr ? value : ""});
}

void ScopedEnv::Set(const char *name, const std::string &value) {
  Remember(name);
  SetEnv(name, value);
}

void ScopedEnv::Unset(const char *name) {
  Remember(name);
  UnsetEnv(name);
}

ScopedEnv::~ScopedEnv() {
  for (const Saved &saved : saved_) {
    if (saved.was_set)
      SetEnv(saved.name.c_str(), saved.value);
    else
      UnsetEnv(saved.name.c_str());
  }
}
