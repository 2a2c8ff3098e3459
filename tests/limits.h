// Resource limits for death tests, which run in a child process of their own:
// they let a test meet a failing allocation or a full disk for real. POSIX
// only: Windows has no such limits.
#ifndef ORVANE_TESTS_LIMITS_H
#define ORVANE_TESTS_LIMITS_H

#include <stddef.h>

// Set when AddressSanitizer is built in (GCC's macro, or clang's feature):
// it reserves terabytes of address space, so no address-space limit holds.
#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_UNDER_ASAN 1
#endif
#endif

// Makes allocations of several gigabytes fail. Under AddressSanitizer the
// test programs' default options cap allocations instead.
void LimitMemoryOfThisProcess(void);

// Writes that would make a file larger than bytes fail with an error rather
// than a signal.
void LimitFileSizeOfThisProcess(size_t bytes);

#endif
