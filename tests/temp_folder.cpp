#include "tests/temp_folder.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

TempFolder::TempFolder() {
  const char *base = getenv("TMPDIR");
  std::string pattern = std::string(base ? base : "/tmp") + "/orvane-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) abort();
  path_ = buffer.data();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::NamesIn(const std::string &folder) {
  std::vector<std::string> names;
  std::error_code missing;
  for (const auto &entry :
       std::filesystem::directory_iterator(folder, missing))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadWholeFile(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string data;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  fclose(f);
  return data;
}

void WriteWholeFile(const std::string &path, const std::string &data) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
}
