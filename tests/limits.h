// Resource limits for death tests, which run in a child process of their own:
// they let a test meet a failing allocation or a full disk for real. POSIX
// only: Windows has no such limits.
#ifndef ORVANE_TESTS_LIMITS_H
#define ORVANE_TESTS_LIMITS_H

#include <stddef.h>

// Makes allocations of several gigabytes fail. Under AddressSanitizer the
// test programs' default options cap allocations instead.
void LimitMemoryOfThisProcess(void);

// Writes that would make a file larger than bytes fail with an error rather
// than a signal.
void LimitFileSizeOfThisProcess(size_t bytes);

#endif
