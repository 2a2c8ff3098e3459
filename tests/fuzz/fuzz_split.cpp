// Word splitting and key=value lookup on any texts.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "lib/stringlist.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput input(data, size);
  char separator = (char)input.Byte();
  int max = input.Byte() % 40 - 2;  // -2 to 37
  std::string key = input.Text();
  std::string text = input.Text();

  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  std::vector<char *> words((max < 0 ? 0 : max) + 1, (char *)"unset");
  int count = SplitAt(separator, buffer.data(), max, words.data());
  if (count < 0 || count > (max < 0 ? 0 : max) || words[count] != NULL)
    abort();
  for (int i = 0; i < count; i++) {
    if (words[i] < buffer.data() || words[i] > buffer.data() + text.size())
      abort();  // words point into the text
  }

  std::vector<std::string> lines;
  while (!input.Empty()) lines.push_back(input.Text());
  std::vector<const char *> pointers;
  for (const std::string &line : lines) pointers.push_back(line.c_str());
  const char *value =
      FindKeyValue(key.c_str(), (int)pointers.size(), pointers.data());
  if (value != NULL) {
    bool inside = false;
    for (const std::string &line : lines)
      inside |= value >= line.c_str() && value <= line.c_str() + line.size();
    if (!inside) abort();
  }
  return 0;
}
