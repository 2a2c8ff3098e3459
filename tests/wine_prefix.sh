#!/usr/bin/env bash
# Makes, once, the Wine prefix the end-to-end suite runs Orvane.exe in. It is
# an ordinary prefix but for two things. TEMP: Wine sets TEMP from the
# registry whatever the Unix environment says, so here the registry takes it
# from ORVANE_TEST_TEMP, and each test hands the program a TEMP of its own, as
# a Windows parent process would. And web pages: a prefix made without Wine's
# browser engine has no program for .html, so they go to winebrowser, which
# hands them to the desktop's opener as a Windows browser would show them.
#
# It also starts the prefix's Wine server to stay until the suite ends
# (wine_prefix.sh --stop). A server left to itself exits three seconds after
# its last program, and a program started in that moment dies with "wine
# client error:0: recvmsg: Connection reset by peer" and status 1: one run
# in a few thousand, where the checks pause to render a reference.
# Usage: wine_prefix.sh prefix-folder [--stop]
set -euo pipefail
wine=${WINE:-$(dirname "$0")/../tools/wine64.sh}
server=/usr/lib/wine/wineserver
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
stop_server() {
  "$server" -k 2>/dev/null || true
  "$server" -w
}
if [ "${2:-}" = --stop ]; then
  stop_server
  exit 0
fi
if [ ! -f "$WINEPREFIX/orvane-suite" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wine" reg add 'HKCU\Environment' /v TEMP /t REG_EXPAND_SZ \
    /d '%ORVANE_TEST_TEMP%' /f >/dev/null
  "$wine" reg add 'HKCR\.html' /ve /d htmlfile /f >/dev/null
  "$wine" reg add 'HKCR\htmlfile\shell\open\command' /ve \
    /d 'C:\windows\system32\winebrowser.exe "%1"' /f >/dev/null
  "$server" -w
  touch "$WINEPREFIX/orvane-suite"
fi
stop_server
"$server" -p </dev/null >/dev/null 2>&1
