#include <signal.h>
#include <sys/resource.h>

#include "tests/limits.h"

void LimitMemoryOfThisProcess(void) {
#ifndef ORVANE_UNDER_ASAN
  // The sanitizer reserves terabytes of address space; a limit would stop it.
  struct rlimit limit = {(rlim_t)4 << 30, (rlim_t)4 << 30};
  setrlimit(RLIMIT_AS, &limit);
#endif
}

void LimitFileSizeOfThisProcess(size_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {(rlim_t)bytes, (rlim_t)bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}
