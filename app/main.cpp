// The POSIX entry: hand the arguments to the platform layer and run.
#include "app/startup.h"
#include "platform/platform.h"

int main(int argc, char **argv) {
  PlatformSetArguments(argc, argv);
  return AppMain(nullptr, nullptr, nullptr, 0);
}
