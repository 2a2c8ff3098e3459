// Formatting long and odd texts into the fixed buffers of the message boxes
// and the log.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app/messages.h"
#include "log/log.h"
#include "tests/fuzz/fuzz_input.h"

static const char *LogFile() {
  static char path[64];
  if (path[0] == '\0') {
    snprintf(path, sizeof path, "/tmp/orvane-fuzz-%d.log", (int)getpid());
    // The boxes write to the terminal; the fuzzer's own report goes to stderr.
    if (freopen("/dev/null", "w", stdout) == NULL) return NULL;
  }
  return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *log = LogFile();
  FuzzInput input(data, size);
  std::string a = input.Text(), b = input.Text();
  int number = input.Int();

  InfoBoxF("%s", a.c_str());
  InfoBoxF("Option %s %s failed: %d", a.c_str(), b.c_str(), number);
  InfoBoxF("%.*s|%s", number % 1000, a.c_str(), b.c_str());

  truncate(log, 0);
  LogSetPath(log);
  LogF("Cmdline: %s", a.c_str());
  LogRawF("%s %s %d", a.c_str(), b.c_str(), number);
  const char *args[] = {a.c_str(), b.c_str(), a.c_str()};
  LogArgs(b.c_str(), number % 4, args);
  LogSetPath(NULL);
  return 0;
}
