#!/usr/bin/env bash
# Orvane.exe under Wine, unpacked as a user would (the program, its Help
# folder and a FreeImage.dll that loads nothing): it starts without a console,
# answers with the right exit statuses, logs the raw command line in CR LF
# lines, and leaves the user's files alone.
# Usage: wine_orvane_test.sh Orvane.exe stub-FreeImage.dll help-folder
set -euo pipefail
exe=$1 stub=$2 help=$3
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY  # a box could otherwise wait for a click

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/app" "$work/photos"
cp "$exe" "$work/app/Orvane.exe"
cp "$stub" "$work/app/FreeImage.dll"
cp -r "$help" "$work/app/Help"
cd "$work/photos"

failures=0
expect_status() {
  local want=$1; shift
  local got=0
  timeout 60 "$wine" "$work/app/Orvane.exe" "$@" >/dev/null 2>&1 || got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: Orvane.exe $* gave $got, expected $want"
    failures=$((failures + 1))
  fi
}

printf 'not really a photo' > photo.jpg
before=$(sha256sum photo.jpg)

expect_status 0 -?
expect_status 0 -ver
expect_status 0 -dbg=1 -VER
expect_status 1                      # no file name: usage
expect_status 1 -x photo.jpg         # unknown option: usage
expect_status 1 photo.gif            # not an accepted extension
expect_status 1 missing.jpg          # cannot be opened
expect_status 1 -r 90 photo.jpg      # cannot be decoded
expect_status 1 -o out.png photo.jpg

if [ "$(sha256sum photo.jpg)" != "$before" ] || [ "$(ls -A)" != photo.jpg ]; then
  echo "FAIL: the photo folder changed: $(ls -A)"
  failures=$((failures + 1))
fi

# The log goes to Wine's TEMP folder, whatever the Unix environment says.
temp=$("$wine" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
log=$("$wine" winepath -u "$temp\\Orvane.log" 2>/dev/null | tr -d '\r')
if ! grep -q $'Cmdline: .*Orvane.exe" -dbg=1 -VER\r$' "$log"; then
  echo "FAIL: no CR LF line with the raw command line in $log"
  failures=$((failures + 1))
fi

[ "$failures" = 0 ] && echo "Orvane.exe under Wine: all checks passed"
exit "$failures"
