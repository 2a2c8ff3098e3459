// Where the instrumented code keeps its coverage counters. Compiled without
// coverage itself: declaring the section's bounds in an instrumented file
// would clash with the compiler's own declarations of them.
#include "tests/fuzz/coverage_counters.h"

extern "C" {
__attribute__((weak)) extern uint8_t __start___sancov_cntrs[];
__attribute__((weak)) extern uint8_t __stop___sancov_cntrs[];
}

uint8_t *CoverageCounters() { return __start___sancov_cntrs; }

size_t CoverageCounterBytes() {
  return (size_t)(__stop___sancov_cntrs - __start___sancov_cntrs);
}
