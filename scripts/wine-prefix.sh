#!/bin/sh
# The Wine prefix the Windows build's programs are tested in.
#   scripts/wine-prefix.sh start PREFIX   makes the prefix (once; about 10 s) and starts its
#       server and its own services, so that the test programs that follow start at once.
#       Started by a test program instead, the services would keep that program's output
#       open and ctest would wait for them.
#   scripts/wine-prefix.sh stop PREFIX    ends the server and every program still in it.
set -eu
action=$1
prefix=$2
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac  # Wine takes an absolute one only
# Without Wine or without the Windows build there is nothing to do: its tests skip.
command -v wine >/dev/null 2>&1 || exit 0
[ -d "$(dirname "$prefix")" ] || exit 0
export WINEPREFIX="$prefix" WINEDEBUG=-all
if [ "$action" = stop ]; then
  [ -f "$prefix/system.reg" ] && wineserver -k 2>/dev/null || true
  exit 0
fi
# No Mono or Gecko installer dialogs: the gateway needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i </dev/null >/dev/null 2>&1
fi
# A server already running (another test run) is as good. It ends by itself a minute after
# its last program, should the stop not come.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1
