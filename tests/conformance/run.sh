#!/usr/bin/env bash
# The conformance check as CTest runs it: makes the corpus once in the build
# folder (from Debian's packages, installing what it needs), then runs every
# case on two cores with sanitizer reports made visible. Any further
# arguments go to check.py (--table docs/conformance.md, --only GLOB).
# With ORVANE_TEST_EMULATOR set (wine64), ORVANE is Orvane.exe, run through
# it; the corpus is then the one in the Linux BUILD-FOLDER.
# Usage: tests/conformance/run.sh ORVANE BUILD-FOLDER [check.py options]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
orvane=$(realpath "$1")
folder=$(realpath "$2")/conformance
shift 2

images=$(bash "$here/make_corpus.sh" "$folder")
# A sanitizer's report must not pass for the program's own status 1; the
# library's own leaks at exit are not the program's.
export ASAN_OPTIONS=exitcode=86 UBSAN_OPTIONS=exitcode=86:print_stacktrace=1
export LSAN_OPTIONS=exitcode=86:print_suppressions=0:suppressions=$here/../lsan.supp
exec /usr/bin/python3 "$here/check.py" "$orvane" "$images" "$folder/work" \
  "$here/known_failures.txt" --jobs 2 "$@"
