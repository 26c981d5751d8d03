#!/bin/sh
# Makes the Wine prefix the Windows build's tests run in (once; about 10 s) and starts its
# server so that the test programs that follow start at once. The server ends by itself a
# minute after the last program.
#   scripts/wine-prefix.sh PREFIX
set -eu
prefix=$1
# Without Wine or without the Windows build there is nothing to prepare: its tests skip.
command -v wine >/dev/null 2>&1 || exit 0
[ -d "$(dirname "$prefix")" ] || exit 0
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko installer dialogs: the gateway needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
fi
# Already running (another test run, a test program) is as good.
wineserver -p60 2>/dev/null || true
