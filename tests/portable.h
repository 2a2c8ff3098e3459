// The few system services tests use for themselves, under one name on every
// system. The build picks portable_posix.cpp or portable_win32.cpp; what is
// the same on both is in portable.cpp.
#ifndef ORVANE_TESTS_PORTABLE_H
#define ORVANE_TESTS_PORTABLE_H

#include <string>
#include <vector>

// What the system puts between a folder and a name.
extern const char kFolderSeparator;

void SetEnv(const char *name, const std::string &value);
void UnsetEnv(const char *name);
// Creates one folder; true on success.
bool MakeTestFolder(const std::string &path);
bool IsFolder(const std::string &path);
// A link named link to the folder target; true on success. Where only
// privileged users may make links (Windows), a plain folder named link, which
// a listing of folders shows the same way.
bool MakeFolderLink(const std::string &target, const std::string &link);
unsigned long ThisProcessId();

// Changes environment variables for one test and, when it goes out of scope,
// puts each back as it was before: its old value, or its absence.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;
  ~ScopedEnv();
  void Set(const char *name, const std::string &value);
  void Unset(const char *name);

 private:
  struct Saved {
    std::string name;
    bool was_set;
    std::string value;
  };
  void Remember(const char *name);
  std::vector<Saved> saved_;
};

#endif
