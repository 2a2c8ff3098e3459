// The string helpers on any texts and numbers.
#include <stdlib.h>
#include <string.h>

#include "lib/strings.h"
#include "tests/fuzz/fuzz_input.h"

static int Sign(int n) { return (n > 0) - (n < 0); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput input(data, size);
  int start = input.Int();
  int max = input.Int() % 100000;  // keeps allocations small, sign and all
  std::string a = input.Text(), b = input.Text(), c = input.Text();

  if (Sign(StrICmp(a.c_str(), b.c_str())) !=
      -Sign(StrICmp(b.c_str(), a.c_str())))
    abort();
  if (StrICmp(a.c_str(), a.c_str()) != 0) abort();

  char *replaced = ReplaceAll(a.c_str(), b.c_str(), c.c_str());
  if (replaced == NULL) abort();
  free(replaced);

  // On a plain decimal text the program's own reader agrees with strtod.
  if (IsNumberText(a.c_str()) &&
      DecimalValue(a.c_str()) != strtod(a.c_str(), NULL))
    abort();
  LooksLikeInteger(a.c_str());

  std::string flat = a;
  FlattenLineEnds(&flat[0]);
  if (strchr(flat.c_str(), '\n') != NULL || strchr(flat.c_str(), '\r') != NULL)
    abort();

  char *part = SubString(a.c_str(), start, max);
  if (strlen(part) > a.size()) abort();
  free(part);
  return 0;
}
