#!/usr/bin/env bash
# Runs the program on a corpus of damaged JPEG, PNG and BMP files made from
# its own sample photo: every run must end within its time with status 0 or
# 1, a failure must say why, no damaged input may change (unless the program
# itself saved a whole image over it), and no temporary file may stay.
# Usage: damaged_images.sh orvane make_damaged sample.jpg [seconds-per-run]
set -euo pipefail
orvane=$(realpath "$1") make_damaged=$(realpath "$2") sample=$(realpath "$3")
limit=${4:-30}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/good" "$work/damaged" "$work/run" "$work/temp" "$work/appdata"
export TEMP=$work/temp AppData=$work/appdata PATH=/usr/bin:/bin

# The good files, made by the program itself from the sample photo.
"$orvane" -w 200 -o "$work/good/photo.jpg" "$sample" >/dev/null &&
"$orvane" -w 180 -oq 8282 -o "$work/good/progressive.jpg" "$sample" >/dev/null &&
"$orvane" -w 160 -o "$work/good/photo.png" "$sample" >/dev/null &&
"$orvane" -w 120 -o "$work/good/photo.bmp" "$sample" >/dev/null || {
  echo "could not make the good files"; exit 1; }
"$make_damaged" "$work/damaged" "$work"/good/* || exit 1
mkdir "$work/damaged/folder.jpg"

files=0 runs=0 ok=0 refused=0 failures=0 slowest=0 slowest_run=
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# One run on a copy of the damaged file; $1 names the file, the rest are the
# options that go before it.
check_run() {
  local name=$1; shift
  rm -rf "$work/run" && mkdir "$work/run"
  cp -r "$work/damaged/$name" "$work/run/$name"
  local before
  before=$(cd "$work/run" && find . -type f -exec sha256sum {} + | sort)
  local status=0 started elapsed
  started=$(date +%s%N)
  (cd "$work/run" && timeout -s KILL "$limit" "$orvane" "$@" "$name" \
      >"$work/out" 2>"$work/err") || status=$?
  elapsed=$((($(date +%s%N) - started) / 1000000))
  if [ "$elapsed" -gt "$slowest" ]; then
    slowest=$elapsed slowest_run="$* $name"
  fi
  runs=$((runs + 1))
  local after
  after=$(cd "$work/run" && find . -type f -exec sha256sum {} + | sort)
  local names
  names=$(cd "$work/run" && ls -A)
  case $status in
    0)
      ok=$((ok + 1))
      if [ "$1" = -fh ] && [ "$before" != "$after" ]; then
        # Saved over: what is there now must be a whole image.
        (cd "$work/run" && "$orvane" -o check.bmp "$name" >/dev/null 2>&1) ||
          fail "$name: saved over, but the result does not load"
      fi ;;
    1)
      refused=$((refused + 1))
      [ -s "$work/err" ] || [ -s "$work/out" ] ||
        fail "$name ($*): status 1 without a message"
      [ "$before" = "$after" ] || fail "$name ($*): failed, yet files changed"
      [ "$names" = "$name" ] || fail "$name ($*): left behind: $names" ;;
    137) fail "$name ($*): still running after ${limit}s" ;;
    *) fail "$name ($*): status $status: $(head -c 300 "$work/err")" ;;
  esac
}

for path in "$work"/damaged/*; do
  name=$(basename "$path")
  files=$((files + 1))
  check_run "$name" -r 90 -o out.png
  check_run "$name" -fh
done

echo "damaged files: $files, runs: $runs, saved: $ok, refused with a message: $refused, failures: $failures"
echo "slowest run: ${slowest} ms ($slowest_run)"
[ "$failures" = 0 ]
