// PNG files through the load alone, its metadata settled and placed
// (fuzz_image.h).
#include "tests/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return FuzzImageLoad(kFormatPng, data, size);
}
