#!/bin/sh
# Wine's 64-bit loader with the address layout fixed, for running Windows
# programs in tests and benchmarks. Debian's wine64 has no preloader to hold
# its addresses before the process starts, so with the layout left random
# the loader's heap now and then lands where Windows keeps its shared user
# data, and the program dies before its first line: status 1, and silence
# unless Wine's error channel is on ("failed to map the shared user data:
# c0000018"), one start in a few thousand. Where the system won't fix the
# layout (some containers refuse), Wine runs as it is.
wine=/usr/lib/wine/wine64
if setarch -R true 2>/dev/null; then
  exec setarch -R "$wine" "$@"
fi
exec "$wine" "$@"
