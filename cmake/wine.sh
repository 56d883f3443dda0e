#!/bin/sh
# Runs Windows test programs under Wine in a private prefix inside the build tree.
#
#   wine.sh start <prefix>                      create the prefix once, start a persistent server
#   wine.sh stop  <prefix>                      stop the server and every Wine process of the prefix
#   wine.sh display <prefix>                    start only the prefix's virtual display (for a
#                                               caller that runs its own, passing server)
#   wine.sh run   <prefix> <loader> <exe> ...   run one program (the loader picks 64 or 32 bits)
#   wine.sh guard <prefix> <loader> <cmd> ...   run a test command that needs <loader>, or
#                                               skip it (exit code 77) where it cannot start
#
# Wine's helper processes (wineserver, services.exe, ...) inherit the standard streams of
# whatever starts them and keep them open; a harness that reads a test's output to its end
# (ctest does) would then hang. So the server and the boot run detached from every pipe,
# before any test, and the tests start against a warm server.
#
# Windows need a display: each build tree gets its own virtual one (Xvfb), started with the
# server and used by every program of the prefix, so that no test shows a window on the
# desktop of whoever runs the tests, and a machine without a screen runs them all the same.
set -eu
cmd=$1; prefix=$2; shift 2

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# A crashing test ends at once instead of waiting in the debugger.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};winedbg.exe=d"
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32
display_file="$prefix.display"
display_pid_file="$prefix.display-pid"

# The process id of the build tree's virtual display, if it still runs.
display_pid() {
    [ -s "$display_pid_file" ] || return 1
    pid=$(cat "$display_pid_file")
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] && echo "$pid"
}

start_display() {
    display_pid >/dev/null && [ -s "$display_file" ] && return 0
    command -v Xvfb >/dev/null || { echo "wine.sh: Xvfb is missing, windows cannot be created" >&2; return 0; }
    rm -f "$display_file" "$display_pid_file"
    # Xvfb picks a free display number and writes it to descriptor 3. (setsid runs it in
    # a session of its own without forking, so $! is the display's process.)
    setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$display_file" </dev/null >/dev/null 2>&1 &
    echo $! >"$display_pid_file"
    tries=0
    until [ -s "$display_file" ] || [ "$tries" -ge 100 ]; do sleep 0.1; tries=$((tries + 1)); done
    [ -s "$display_file" ] || echo "wine.sh: the virtual display did not start" >&2
}

if [ -s "$display_file" ]; then
    DISPLAY=":$(tr -d ' \n' <"$display_file")"
    export DISPLAY
fi

case "$cmd" in
start)
    mkdir -p "$prefix"
    start_display
    if [ -s "$display_file" ]; then DISPLAY=":$(tr -d ' \n' <"$display_file")"; export DISPLAY; fi
    setsid "$server" -p </dev/null >/dev/null 2>&1 &
    # wineboot creates the prefix the first time and otherwise only starts the
    # system processes, so that no test program becomes their parent.
    setsid -w /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    # Wine's own fonts (MS Sans Serif, Tahoma, the caption buttons' Marlett) are found only
    # in the prefix's font folder; without them windows are drawn in a substitute font.
    if [ -d /usr/share/wine/fonts ] && [ -d "$prefix/drive_c/windows/Fonts" ]; then
        cp -n /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
    ;;
display)
    mkdir -p "$(dirname "$prefix")"
    start_display
    ;;
stop)
    "$server" -k </dev/null >/dev/null 2>&1 || true
    if pid=$(display_pid); then kill "$pid" 2>/dev/null || true; fi
    rm -f "$display_file" "$display_pid_file"
    ;;
run)
    loader=$1; shift
    exec "$loader" "$@"
    ;;
guard)
    # The 32-bit loader is an i386 program: on a kernel without 32-bit support every test
    # of the 32-bit build that starts it is reported as skipped, not failed.
    loader=$1; shift
    if [ "$loader" != /usr/lib/wine/wine64 ] &&
       ! reason=$("$(dirname "$0")/runs-32bit.sh" "$(dirname "$prefix")/probe"); then
        echo "skipped: $reason"
        exit 77
    fi
    exec "$@"
    ;;
*)
    echo "usage: wine.sh start|stop|display|run|guard <prefix> ..." >&2
    exit 2
    ;;
esac
