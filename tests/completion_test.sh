#!/usr/bin/env bash
# Checks the bash completion: what it offers after each kind of word.
set -euo pipefail
script=${1:?usage: completion_test.sh orvane.bash}
source "$script"
failures=0

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
touch a.jpg B.JPEG c.Png d.bmp notes.txt 'with space.jpg' noext
mkdir photos

# Completes the words given (the last is the one under the cursor) and
# compares the sorted offers with the expected ones.
expect() {
  local expected=$1
  shift
  COMP_WORDS=(orvane "$@")
  COMP_CWORD=$#
  # Run as bash runs it for a user: errexit is this script's, not the
  # completion's, whose inner tests may well end false.
  if ! _orvane; then
    echo "after [$*]: the completion returned non-zero"
    failures=$((failures + 1))
  fi
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
  if [[ $got != "$expected" ]]; then
    echo "after [$*]: expected [$expected], got [$got]"
    failures=$((failures + 1))
  fi
}

expect "-c" -c
expect "-fh -filter -fv" -f
expect "Lanczos lanczos3" -w 10 -filter l
expect "Spline" -filter SP
expect "a.jpg" -filter box a
expect "-o -oq" -o
expect "--help --version" --
expect "-dbg=" -d
expect "-?" '-?'
expect "-help" -he
expect "B.JPEG a.jpg c.Png d.bmp photos/ with space.jpg" ""
expect "a.jpg" a
expect "photos/" p
expect "" -r ""                 # an angle
expect "" -c 1 2 3 ""           # still crop values
expect "a.jpg" -c 1 2 3 4 a     # the file name after the four values
expect "B.JPEG" -wh 10 20 B
expect "d.bmp" -O d             # the value of -o is a file name
expect "photos/" -o p           # or a folder to write into
expect "" -oq ""
expect "-w -wh" -fh -w
expect "-upright" -u
expect "-strip" -fh -s
expect "-lossless" -r 90 -lo

if ((failures > 0)); then
  echo "$failures completion cases failed"
  exit 1
fi
echo "all completion cases passed"
