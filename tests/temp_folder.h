// A fresh folder for one test, removed with everything in it afterwards.
#ifndef ORVANE_TESTS_TEMP_FOLDER_H
#define ORVANE_TESTS_TEMP_FOLDER_H

#include <string>
#include <vector>

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string &path() const { return path_; }
  // name may hold "/"; it is written with the system's separator.
  std::string Path(const std::string &name) const;
  // The names in the folder, sorted.
  std::vector<std::string> Names() const { return NamesIn(path_); }
  static std::vector<std::string> NamesIn(const std::string &folder);

 private:
  std::string path_;
};

std::string ReadWholeFile(const std::string &path);  // "<missing>" if none
// As the C library's text mode reads it: CR LF arrives as LF on Windows.
std::string ReadTextFile(const std::string &path);
void WriteWholeFile(const std::string &path, const std::string &data);

#endif
