// The settings readers on any file contents.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "lib/settings.h"
#include "lib/stringlist.h"
#include "tests/fuzz/fuzz_input.h"

static const char *SettingsFile() {
  static char path[64];
  if (path[0] == '\0') snprintf(path, sizeof path, "/tmp/orvane-fuzz-%d.ini",
                                (int)getpid());
  return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput input(data, size);
  int buffer_size = input.Byte() % 300 - 2;  // -2 to 297
  std::string key = input.Text();
  std::string section = input.Text();
  std::string contents = input.Rest();

  FILE *file = fopen(SettingsFile(), "wb");
  if (file == NULL) return 0;
  fwrite(contents.data(), 1, contents.size(), file);
  fclose(file);

  std::vector<char> buffer(buffer_size > 0 ? buffer_size : 1, 'x');
  char *value =
      LookupSetting(SettingsFile(), key.c_str(), buffer_size, buffer.data());
  if (value != NULL &&
      (value < buffer.data() || value >= buffer.data() + buffer.size()))
    abort();
  if (value != NULL && memchr(buffer.data(), '\0', buffer.size()) == NULL)
    abort();  // an unterminated value

  StringList lines;
  int count = LoadLines(SettingsFile(), section.c_str(), &lines);
  if (count != StringListCount(lines)) abort();
  StringListFree(lines);
  return 0;
}
