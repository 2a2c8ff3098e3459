#!/usr/bin/env bash
# Makes, once, the Wine prefix the end-to-end suite runs Orvane.exe in. It is
# an ordinary prefix but for two things. TEMP: Wine sets TEMP from the
# registry whatever the Unix environment says, so here the registry takes it
# from ORVANE_TEST_TEMP, and each test hands the program a TEMP of its own, as
# a Windows parent process would. And web pages: a prefix made without Wine's
# browser engine has no program for .html, so they go to winebrowser, which
# hands them to the desktop's opener as a Windows browser would show them.
# Usage: wine_prefix.sh prefix-folder
set -euo pipefail
wine=${WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
[ -f "$WINEPREFIX/orvane-suite" ] && exit 0
"$wine" wineboot --init >/dev/null 2>&1 || true
"$wine" reg add 'HKCU\Environment' /v TEMP /t REG_EXPAND_SZ \
  /d '%ORVANE_TEST_TEMP%' /f >/dev/null
"$wine" reg add 'HKCR\.html' /ve /d htmlfile /f >/dev/null
"$wine" reg add 'HKCR\htmlfile\shell\open\command' /ve \
  /d 'C:\windows\system32\winebrowser.exe "%1"' /f >/dev/null
"$(dirname "$wine")/wineserver" -w
touch "$WINEPREFIX/orvane-suite"
