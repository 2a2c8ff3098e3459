#!/usr/bin/env bash
# Builds FreeImage.dll from Debian's sources (once, into build-deps), then
# cross-builds Orvane.exe and its Windows tests with mingw-w64 and runs the
# tests under Wine with no display: the Linux build's end-to-end tests run
# against Orvane.exe, whose outputs are compared with the Linux build's in
# build/ (made here when missing). Installs what it needs (run as root).
# Usage: tests/windows_check.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}

packages="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev wine64 googletest libfreeimage-dev cmake make g++
          libgtest-dev mate-backgrounds wixl msitools"
if ! dpkg -s $packages >/dev/null 2>&1; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    $packages
fi

freeimage=$(bash tools/build_freeimage_dll.sh build-deps)
# The Linux build of the same tree: its end-to-end tests run Orvane.exe, and
# its program's outputs are what Orvane.exe's must equal.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release -DORVANE_FREEIMAGE_DLL="$freeimage"
cmake --build "$build" -j2

# A Wine prefix of the build's own, made once; no display, no add-on prompts.
# The folder may be given relative or absolute.
WINEPREFIX=$(cd "$build" && pwd)/wineprefix
export WINEPREFIX
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  tools/wine64.sh wineboot --init >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
fi
ctest --test-dir "$build" --output-on-failure
