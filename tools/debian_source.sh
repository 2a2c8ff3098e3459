#!/usr/bin/env bash
# Unpacks a Debian source package into a cache folder, once, and prints the
# folder it unpacked to. Adds a deb-src line for Debian's archive to apt's
# sources when none is there yet (run as root).
# Usage: tools/debian_source.sh PACKAGE CACHE-FOLDER
set -euo pipefail
package=$1
cache=$2

sources=/etc/apt/sources.list.d/orvane-deb-src.sources
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list \
     /etc/apt/sources.list.d/; then
  cat > "$sources" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  apt-get update >&2
fi
if ! command -v dpkg-source >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    dpkg-dev >&2
fi

mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
# Each package in a folder of its own, so its tarballs don't mix with others'.
folder=$(find "$cache/$package" -mindepth 1 -maxdepth 1 -type d 2>/dev/null |
         head -n 1 || true)
if [ -z "$folder" ]; then
  mkdir -p "$cache/$package"
  (cd "$cache/$package" && apt-get source -q "$package" >&2)
  folder=$(find "$cache/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
fi
echo "$folder"
