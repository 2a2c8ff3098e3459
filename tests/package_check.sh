#!/usr/bin/env bash
# Builds the Debian package from a built tree, installs it, uses the installed
# program on an image, renders its manual page, and removes it again.
set -euo pipefail
build=$(cd "$1" && pwd)

DEBIAN_FRONTEND=noninteractive apt-get install -y dpkg-dev man-db > /dev/null
(cd "$build" && cpack > /dev/null)
package=$(ls "$build"/orvane_*.deb)
echo "package: $(basename "$package") depends on: $(dpkg-deb -f "$package" Depends)"
dpkg-deb -f "$package" Depends | grep -q libfreeimage3

DEBIAN_FRONTEND=noninteractive apt-get install -y "$package" > /dev/null
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cp "$build/sample.jpg" "$folder/photo.jpg"
(cd "$folder" && TEMP="$folder" AppData="$folder" orvane -w 200 -o small.png photo.jpg)
[[ -s $folder/small.png ]]
cmp -s "$build/sample.jpg" "$folder/photo.jpg"
[[ $(readlink -f "$(command -v orvane)") == /usr/lib/orvane/orvane ]]
[[ -f /usr/lib/orvane/Help/index.html ]]
orvane --version | grep -q '^Build date:'
grep -q FIPL /usr/share/doc/orvane/copyright

# The page as packaged, whatever the machine's dpkg leaves out of /usr/share.
dpkg-deb -x "$package" "$folder/unpacked"
man -l "$folder/unpacked/usr/share/man/man1/orvane.1.gz" > "$folder/page.txt" 2> "$folder/warnings.txt"
grep -q "EXIT STATUS" "$folder/page.txt"
[[ ! -s $folder/warnings.txt ]] || { cat "$folder/warnings.txt"; exit 1; }

DEBIAN_FRONTEND=noninteractive apt-get remove -y orvane > /dev/null
[[ ! -e /usr/bin/orvane && ! -e /usr/lib/orvane ]]
echo "package installs, runs, shows its manual page and removes cleanly"
