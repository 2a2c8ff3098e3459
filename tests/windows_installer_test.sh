#!/usr/bin/env bash
# The Windows installer under Wine, as a user meets it: a silent install puts
# Orvane in Program Files, on PATH and in Apps & features; the program runs
# by name on a photo; removal through Apps & features' own command takes all
# of it away again. The Wine prefix is the test's own, a clean machine.
# Usage: windows_installer_test.sh build-folder wine-prefix cmake
set -euo pipefail
build=$(cd "$1" && pwd)
cmake=$3
wine=${WINE:-$(dirname "$0")/../tools/wine64.sh}
wineserver=/usr/lib/wine/wineserver
WINEPREFIX=$(realpath -m "$2")  # Wine takes only an absolute one
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY  # a box could otherwise wait for a click

version=$(sed -n 's/^#define ORVANE_PACKAGE_VERSION "\(.*\)"$/\1/p' \
          "$build/generated/orvane_version.h")
msi=$build/Orvane-$version-win64.msi
zip=$build/Orvane-$version-win64.zip
[ -n "$version" ] && [ -f "$msi" ] && [ -f "$zip" ] || {
  echo "FAIL: no installer or zip for version '$version' in $build"; exit 1; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
drive_c=$WINEPREFIX/drive_c
installed=$drive_c/Program\ Files/Orvane

# The value of one registry entry, or nothing.
registry_value() {  # key name
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# The Apps & features entries whose name is Orvane, one key a line.
orvane_entries() {
  "$wine" reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {key = $0} /^ *DisplayName +REG_SZ +Orvane$/ {print key}'
}
# PATH's entries one a line; empty entries dropped, since Wine's removal of
# an entry leaves its separator behind.
path_entries() {
  registry_value "$environment_key" PATH | tr ';' '\n' | sed '/^$/d'
}
# What a removal must not add to: the files of drive C: and the
# names of all registry keys, as saved when Wine's server ends. Windows
# Installer's own empty folders of records, made by its first use on a new
# machine, are not Orvane's.
snapshot() {
  "$wineserver" -w
  (cd "$drive_c" && find . -path ./windows/temp -prune -o \
     -path './users/*/Temp' -prune -o -print | grep -v -x ./windows/Installer |
     sort)
  grep -h '^\[' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" |
    sed 's/\] [0-9]*$/]/' | sort |
    grep -v -E '\\\\Installer(\\\\UserData\\\\S-1-5-18)?\\\\(Features|Products|UpgradeCodes|Components)\]$'
}

# A clean machine: made once, and made again when an earlier run was cut
# short, or a faulty package run, with any of Orvane's traces still there.
orvane_folder='C:\Program Files\Orvane\'
if [ -f "$WINEPREFIX/system.reg" ] && { [ -e "$installed" ] ||
   [ -n "$(orvane_entries)" ] ||
   path_entries | grep -q -x -F "$orvane_folder"; }; then
  "$wineserver" -k || true
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

path_before=$(path_entries) || true
[ -n "$path_before" ] || { echo "FAIL: no PATH in $environment_key"; exit 1; }
before=$(snapshot)

"$wine" msiexec /i "$msi" /qn || fail "msiexec /i gave $?"

# The installed folder holds exactly what the zip does.
"$cmake" -E chdir "$work" "$cmake" -E tar xf "$zip"
diff -r "$work/Orvane-$version-win64" "$installed" ||
  fail "Program Files\\Orvane differs from the zip"

key=$(orvane_entries)
if [ "$(printf '%s\n' "$key" | grep -c .)" != 1 ]; then
  fail "expected one Apps & features entry named Orvane, found: $key"
else
  [ "$(registry_value "$key" DisplayVersion)" = "$version" ] ||
    fail "Apps & features version is '$(registry_value "$key" DisplayVersion)'"
  [ "$(registry_value "$key" Publisher)" = Tabrinel ] ||
    fail "Apps & features publisher is '$(registry_value "$key" Publisher)'"
  uninstall=$(registry_value "$key" UninstallString)
fi

[ "$(path_entries)" = "$(printf '%s\n%s' "$path_before" "$orvane_folder")" ] ||
  fail "PATH is not the old one plus the Orvane folder: $(path_entries)"

# A photo of 64 x 48 pixels in a 24-bit BMP, then the installed program,
# found through PATH, turns and shrinks it into a JPEG, and reads that back
# into a BMP whose header gives the new size.
le32() {
  printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255))
}
bmp_size() {  # file: prints "width height"
  od -An -tu4 -j18 -N8 "$1" | xargs
}
pixels=''
for ((y = 0; y < 48; y++)); do
  for ((x = 0; x < 64; x++)); do
    pixels+=$(printf '\\x%02x\\x%02x\\x%02x' $((x * 4)) $((y * 5)) 128)
  done
done
header="BM$(le32 $((54 + 9216)))$(le32 0)$(le32 54)$(le32 40)$(le32 64)"
header+="$(le32 48)\\x01\\x00\\x18\\x00$(le32 0)$(le32 9216)$(le32 2835)"
header+="$(le32 2835)$(le32 0)$(le32 0)"
printf "$header$pixels" > "$work/photo.bmp"
[ "$(bmp_size "$work/photo.bmp")" = "64 48" ] || fail "the test photo is malformed"
photo_sum=$(sha256sum < "$work/photo.bmp")

(cd "$work" && "$wine" Orvane.exe -r 90 -w 24 -o turned.jpg photo.bmp) ||
  fail "Orvane -r 90 -w 24 -o turned.jpg photo.bmp gave $?"
(cd "$work" && "$wine" Orvane.exe -o check.bmp turned.jpg) ||
  fail "Orvane -o check.bmp turned.jpg gave $?"
[ "$(head -c 2 "$work/turned.jpg" 2>/dev/null | od -An -tx1 | xargs)" = "ff d8" ] ||
  fail "turned.jpg is no JPEG"
[ -f "$work/check.bmp" ] && [ "$(bmp_size "$work/check.bmp")" = "24 32" ] ||
  fail "the turned photo is not 24 x 32 pixels"
[ "$(sha256sum < "$work/photo.bmp")" = "$photo_sum" ] || fail "photo.bmp changed"

# Removal as Apps & features does it, silently.
if [ -n "${uninstall:-}" ]; then
  # shellcheck disable=SC2086  # "MsiExec.exe /X{...}": a command and its switch
  "$wine" $uninstall /qn || fail "$uninstall /qn gave $?"
fi

[ ! -e "$installed" ] || fail "Program Files\\Orvane is still there"
[ -z "$(orvane_entries)" ] || fail "Apps & features still lists Orvane"
[ "$(path_entries)" = "$path_before" ] ||
  fail "PATH is not as before: $(path_entries)"
(cd "$work" && "$wine" Orvane.exe -ver >/dev/null 2>&1) &&
  fail "Orvane.exe still runs by name"
# Only what is new counts: Wine itself drops and remakes some of its keys.
left=$(comm -13 <(printf '%s\n' "$before" | sort) <(snapshot | sort))
[ -z "$left" ] || fail "left over: $left"

[ "$failures" = 0 ] && echo "Installer under Wine: all checks passed"
exit "$failures"
