#!/bin/sh
# Runs Windows test programs under Wine in a private prefix inside the build tree.
#
#   wine.sh start <prefix>                      create the prefix once, start a persistent server
#   wine.sh stop  <prefix>                      stop the server and every Wine process of the prefix
#   wine.sh run   <prefix> <loader> <exe> ...   run one program (the loader picks 64 or 32 bits)
#
# Wine's helper processes (wineserver, services.exe, ...) inherit the standard streams of
# whatever starts them and keep them open; a harness that reads a test's output to its end
# (ctest does) would then hang. So the server and the boot run detached from every pipe,
# before any test, and the tests start against a warm server.
set -eu
cmd=$1; prefix=$2; shift 2

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32

case "$cmd" in
start)
    mkdir -p "$prefix"
    setsid "$server" -p </dev/null >/dev/null 2>&1 &
    # wineboot creates the prefix the first time and otherwise only starts the
    # system processes, so that no test program becomes their parent.
    setsid -w /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    ;;
stop)
    "$server" -k </dev/null >/dev/null 2>&1 || true
    ;;
run)
    loader=$1; shift
    exec "$loader" "$@"
    ;;
*)
    echo "usage: wine.sh start|stop|run <prefix> ..." >&2
    exit 2
    ;;
esac
