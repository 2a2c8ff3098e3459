// BMP files through the load, an edit and the saves (fuzz_image.h).
#include "tests/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return FuzzImageFile(kFormatBmp, data, size);
}
