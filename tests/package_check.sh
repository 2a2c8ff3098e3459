#!/usr/bin/env bash
# Builds the Debian package from a built tree, installs it, uses the installed
# program on an image, renders its manual page, and removes it again. The
# machine is left as it was found even when a check fails on the way.
# Usage: tests/package_check.sh build-folder
set -euo pipefail
build=$(cd "${1:?usage: package_check.sh build-folder}" && pwd)

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Installing over a copy the machine already has could not be undone.
state=$(dpkg-query -W -f='${db:Status-Status}' orvane 2>/dev/null) || state=
case $state in
  '' | not-installed | config-files) ;;
  *) fail "orvane is already on this machine ($state); remove it first" ;;
esac

# The package of this very tree, named as cpack names it, so that one left
# over from another version is never the one checked.
config=$build/CPackConfig.cmake
[[ -f $config ]] || fail "$build is no configured build tree (no CPackConfig.cmake)"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$config")
[[ -n $version ]] || fail "no CPACK_PACKAGE_VERSION in $config"
arch=$(dpkg --print-architecture)
package=$build/orvane_${version}_$arch.deb

DEBIAN_FRONTEND=noninteractive apt-get install -y dpkg-dev man-db > /dev/null
(cd "$build" && cpack > /dev/null)
[[ -f $package ]] || fail "cpack made no $(basename "$package") in $build"
depends=$(dpkg-deb -f "$package" Depends)
echo "package: $(basename "$package") depends on: $depends"
[[ $depends == *libfreeimage3* ]] || fail "the package does not depend on libfreeimage3"
# The lossless edits call libjpeg-turbo's libjpeg API alone now.
[[ $depends == *libjpeg62-turbo* ]] || fail "the package does not depend on libjpeg62-turbo"

DEBIAN_FRONTEND=noninteractive apt-get install -y "$package" > /dev/null
# From here on, whatever happens, the package and the scratch folder go.
installed=yes folder=
clean_up() {
  if [[ $installed == yes ]]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y orvane > /dev/null ||
      echo "could not remove orvane; remove it by hand" >&2
  fi
  [[ -z $folder ]] || rm -rf "$folder"
}
trap clean_up EXIT

folder=$(mktemp -d)
cp "$build/sample.jpg" "$folder/photo.jpg"
(cd "$folder" && TEMP="$folder" AppData="$folder" orvane -w 200 -o small.png photo.jpg) ||
  fail "the edit run failed"
[[ -s $folder/small.png ]] || fail "no output written"
(cd "$folder" && TEMP="$folder" AppData="$folder" orvane -lossless -fh -r 90 -o turned.jpg photo.jpg) ||
  fail "the lossless run failed"
cmp -s "$build/sample.jpg" "$folder/photo.jpg" || fail "the input changed"
[[ $(readlink -f "$(command -v orvane)") == /usr/lib/orvane/orvane ]] ||
  fail "orvane on PATH is not /usr/lib/orvane/orvane"
[[ -f /usr/lib/orvane/Help/index.html ]] || fail "the help page is not installed"
# Whole output first: grep -q stops reading at its match, and under pipefail
# a writer cut off by that would fail the check.
version_text=$(orvane --version) || fail "--version failed"
grep -q '^Build date:' <<< "$version_text" || fail "--version shows no version"
grep -q FIPL /usr/share/doc/orvane/copyright ||
  fail "the copyright file lacks the image library's licence"

# The page as packaged, whatever the machine's dpkg leaves out of /usr/share.
dpkg-deb -x "$package" "$folder/unpacked"
man -l "$folder/unpacked/usr/share/man/man1/orvane.1.gz" > "$folder/page.txt" 2> "$folder/warnings.txt"
grep -q "EXIT STATUS" "$folder/page.txt" || fail "the manual page has no EXIT STATUS"
[[ ! -s $folder/warnings.txt ]] || fail "man warns: $(cat "$folder/warnings.txt")"

DEBIAN_FRONTEND=noninteractive apt-get remove -y orvane > /dev/null
installed=no
[[ ! -e /usr/bin/orvane && ! -e /usr/lib/orvane ]] || fail "files stay after removal"
echo "package installs, runs, shows its manual page and removes cleanly"
