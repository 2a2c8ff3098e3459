// The tokenizer and the argument editing on any command line.
#include <stdlib.h>
#include <string.h>

#include "app/cmdline.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput input(data, size);
  int limit = input.Byte() % 34 - 2;  // -2 to 31: below, at and above 30
  std::string flag = input.Text();
  std::string prefix = input.Text();
  std::string line = input.Text();
  char *entries[32];
  int count = TokenizeCommandLine(line.c_str(), limit, entries);
  if (count < 0 || count > (limit < 0 ? 0 : limit) || count > 31) abort();
  if (entries[count] != NULL) abort();
  char *owned[32];
  memcpy(owned, entries, sizeof owned);
  int owned_count = count;
  for (int i = 0; i < count; i++)
    if (strlen(entries[i]) > line.size()) abort();
  int before = count;
  if (TakeFlag(&count, entries, flag.c_str()) != before - count) abort();
  before = count;
  const char *value = TakeOption(&count, entries, prefix.c_str(), "fallback");
  if (value == NULL || (count != before && count != before - 1)) abort();
  if (entries[count] != NULL) abort();
  for (int i = 0; i < owned_count; i++) free(owned[i]);
  return 0;
}
