#!/usr/bin/env bash
# Installs the built tree into a fresh prefix and uses the installed program
# the way a user would: through the link on PATH.
set -euo pipefail
build=$(cd "$1" && pwd)
cmake=$2

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" > /dev/null

fail() {
  echo "FAILED: $*"
  exit 1
}

for file in lib/orvane/orvane lib/orvane/Help/index.html \
            share/man/man1/orvane.1.gz share/bash-completion/completions/orvane \
            share/doc/orvane/copyright; do
  [[ -f $prefix/$file ]] || fail "$file is not installed"
done
[[ -L $prefix/bin/orvane ]] || fail "bin/orvane is not a link"
[[ $(readlink "$prefix/bin/orvane") == ../lib/orvane/orvane ]] ||
  fail "bin/orvane points elsewhere"
grep -q "FIPL" "$prefix/share/doc/orvane/copyright" ||
  fail "the copyright file lacks the image library's licence"

# A fake opener records what -help asks for.
mkdir "$prefix/fake"
cat > "$prefix/fake/xdg-open" <<'SCRIPT'
#!/bin/sh
printf '%s' "$1" > "$OPENED"
SCRIPT
chmod +x "$prefix/fake/xdg-open"
export PATH="$prefix/bin:$prefix/fake:$PATH" OPENED="$prefix/opened"
export TEMP="$prefix" AppData="$prefix/appdata"

cd "$prefix"
cp "$build/sample.jpg" photo.jpg
orvane -r 90 -w 300 -o small.png photo.jpg || fail "the edit run failed"
[[ -s small.png ]] || fail "no output written"
cmp -s "$build/sample.jpg" photo.jpg || fail "the input changed"

orvane -help || fail "-help failed"
# The opener may still run after the program has ended; the deadline only
# ends the wait for one that never runs.
for _ in $(seq 1200); do [[ -s $OPENED ]] && break; sleep 0.05; done
[[ $(cat "$OPENED") == "$prefix/lib/orvane/Help/index.html" ]] ||
  fail "-help opened '$(cat "$OPENED" 2>/dev/null)'"

# Whole output first: grep -q stops reading at its match, and under pipefail
# a writer cut off by that would fail the check.
usage=$(orvane --help) || fail "--help failed"
grep -q '^Usage:$' <<< "$usage" || fail "--help shows no usage"
version=$(orvane --version) || fail "--version failed"
grep -q '^Build date:' <<< "$version" || fail "--version shows no version"
echo "installed program works"
