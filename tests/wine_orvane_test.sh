#!/usr/bin/env bash
# Orvane.exe under Wine, unpacked as a user would (the program, FreeImage.dll
# and its Help folder): it starts without a console, answers with the right
# exit statuses, logs the raw command line in CR LF lines, leaves the user's
# files alone, and on real photos writes, for every edit, the very bytes the
# Linux build writes.
# Usage: wine_orvane_test.sh Orvane.exe FreeImage.dll help-folder linux-orvane
set -euo pipefail
exe=$1 dll=$2 help=$3 linux=$4
wine=${WINE:-$(dirname "$0")/../tools/wine64.sh}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY  # a box could otherwise wait for a click

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/app" "$work/photos"
cp "$exe" "$work/app/Orvane.exe"
cp "$dll" "$work/app/FreeImage.dll"
cp -r "$help" "$work/app/Help"
cd "$work/photos"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
run_exe() {  # prints nothing; returns Orvane.exe's exit status
  timeout 60 "$wine" "$work/app/Orvane.exe" "$@" >/dev/null 2>&1
}
expect_status() {
  local want=$1; shift
  local got=0
  run_exe "$@" || got=$?
  [ "$got" = "$want" ] || fail "Orvane.exe $* gave $got, expected $want"
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
  fail "the photo folder changed: $(ls -A)"
fi

# The log goes to Wine's TEMP folder, whatever the Unix environment says.
temp=$("$wine" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
log=$("$wine" winepath -u "$temp\\Orvane.log" 2>/dev/null | tr -d '\r')
if ! grep -q $'Cmdline: .*Orvane.exe" -dbg=1 -VER\r$' "$log"; then
  fail "no CR LF line with the raw command line in $log"
fi

# Each edit on each photo, run by both programs on copies of the photo in
# folders of their own: both must give the same exit status (a JPEG can't
# hold a photo's alpha channel, so that save fails on both) and the folders
# must end up the same, byte for byte, whether the result went over the photo
# or to -o's file.
same_as_linux() {  # photo edit-options...
  local photo=$1; shift
  local name=photo.${photo##*.} win=0 unix=0
  rm -rf "$work/win" "$work/linux"
  mkdir "$work/win" "$work/linux"
  cp "$photo" "$work/win/$name"
  cp "$photo" "$work/linux/$name"
  (cd "$work/win" && run_exe "$@" "$name") || win=$?
  (cd "$work/linux" && "$linux" "$@" "$name" >/dev/null 2>&1) || unix=$?
  if [ "$win" != "$unix" ]; then
    fail "$* on $photo: Orvane.exe gave $win, the Linux build $unix"
  elif ! diff -r -q "$work/linux" "$work/win" >/dev/null; then
    fail "$* on $photo: Orvane.exe wrote other bytes than the Linux build"
  fi
  [ "$unix" = 0 ] && saved=$((saved + 1))
  compared=$((compared + 1))
}

mate=/usr/share/backgrounds/mate
photos="$mate/nature/Aqua.jpg $mate/nature/FreshFlower.jpg
        $mate/desktop/Ubuntu-Mate-Dark-no-logo.png $mate/desktop/Stripes.png
        $mate/abstract/Arc-Colors-Transparent-Wallpaper.png"
if [ ! -x "$linux" ]; then
  fail "no Linux build at $linux to compare with (cmake --build build)"
elif ! ls $photos >/dev/null; then
  fail "photos missing (apt-get install mate-backgrounds)"
else
  # A BMP photo too: one the Linux build writes from a JPEG.
  "$linux" -o "$work/FreshFlower.bmp" "$mate/nature/FreshFlower.jpg"
  compared=0 saved=0
  for photo in $photos "$work/FreshFlower.bmp"; do
    for edit in "-o out.png" "-o out.jpg" "-o out.bmp" "-r 90" "-r 30" \
                -fh -fv "-c 100 50 640 480" "-w 64"; do
      # shellcheck disable=SC2086  # each edit is its words
      same_as_linux "$photo" $edit
    done
  done
  echo "$compared edits of real photos compared with the Linux build" \
       "($saved saved, the others refused by both)"
fi

[ "$failures" = 0 ] && echo "Orvane.exe under Wine: all checks passed"
exit "$failures"
