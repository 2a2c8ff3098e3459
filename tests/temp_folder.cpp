#include "tests/temp_folder.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "tests/portable.h"

TempFolder::TempFolder() {
  std::error_code error;
  std::string base = std::filesystem::temp_directory_path(error).string();
  if (error) base = ".";
  while (!base.empty() && (base.back() == '/' || base.back() == '\\'))
    base.pop_back();
  std::random_device seed;
  std::mt19937 random(seed() ^ (unsigned)ThisProcessId());
  for (int attempt = 0; attempt < 100; attempt++) {
    path_ = base + kFolderSeparator + "orvane-test-" + std::to_string(random());
    if (MakeTestFolder(path_)) return;
  }
  abort();
}

std::string TempFolder::Path(const std::string &name) const {
  std::string path = path_ + kFolderSeparator + name;
  std::replace(path.begin() + path_.size(), path.end(), '/', kFolderSeparator);
  return path;
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

static std::string ReadFile(const std::string &path, const char *mode) {
  FILE *f = fopen(path.c_str(), mode);
  if (f == nullptr) return "<missing>";
  std::string data;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  fclose(f);
  return data;
}

std::string ReadWholeFile(const std::string &path) {
  return ReadFile(path, "rb");
}

std::string ReadTextFile(const std::string &path) {
  return ReadFile(path, "r");
}

void WriteWholeFile(const std::string &path, const std::string &data) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
}
