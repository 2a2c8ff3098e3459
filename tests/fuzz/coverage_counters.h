// The executable's coverage counters, which a child process hands back to
// the fuzzer (see fuzz_interpreter.cpp).
#ifndef ORVANE_TESTS_FUZZ_COVERAGE_COUNTERS_H
#define ORVANE_TESTS_FUZZ_COVERAGE_COUNTERS_H

#include <stddef.h>
#include <stdint.h>

uint8_t *CoverageCounters();
size_t CoverageCounterBytes();

#endif
