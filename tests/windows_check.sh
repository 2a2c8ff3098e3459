#!/usr/bin/env bash
# Cross-builds Orvane.exe and its Windows tests with mingw-w64, then runs the
# tests under Wine with no display. Installs what it needs (run as root).
# Usage: tests/windows_check.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}

packages="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev wine64 googletest libfreeimage-dev cmake make g++"
if ! dpkg -s $packages >/dev/null 2>&1; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    $packages
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j2

# A Wine prefix of the build's own, made once; no display, no add-on prompts.
# The folder may be given relative or absolute.
WINEPREFIX=$(cd "$build" && pwd)/wineprefix
export WINEPREFIX
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
fi
ctest --test-dir "$build" --output-on-failure
