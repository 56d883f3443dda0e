#!/usr/bin/env bash
# Trigger latency: how long from a Trigger call until the simulated stimulator, paced at the
# line's real 38400 baud, holds the whole trigger frame; natively from C++ (the control
# object) and from Python (the quorlib module), and under Wine from a script in cscript with
# the 64-bit and the 32-bit DLL; and first, as the machine's own floor, the same bytes written
# by two bare write() calls. Prints one table (bench/trigger_latency.py explains it).
#
#   bench/trigger-latency.sh [--count N] [--clients LIST]
#
#   --count N        triggers per client (default 1000)
#   --clients LIST   comma-separated, of: bare, native, python, win64, win32 (default all); each
#                    needs its build: build/native (trigger_latency, pulsyn-sim, quorlib),
#                    build/win64 and build/win32 (QuorLib, quor_host_sim, quor_host_support)
# Benchmarks print figures; nothing here passes or fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
count=1000
clients=bare,native,python,win64,win32
while [ $# -gt 0 ]; do
    case $1 in
    --count) count=$2; shift 2 ;;
    --clients) clients=$2; shift 2 ;;
    *) echo "usage: trigger-latency.sh [--count N] [--clients bare,native,python,win64,win32]" >&2; exit 2 ;;
    esac
done
. "$root/scripts/lib/simulator.sh"
native=$root/build/native
measure() { /usr/bin/python3 "$here/trigger_latency.py" "$@"; }

work=$(mktemp -d)
prefix=""
dll=""
wine_run=""
cleanup() {
    if [ -n "$dll" ]; then "$wine_run" /s /u "$(winpath "$dll")" >/dev/null 2>&1 || true; fi
    [ -z "$prefix" ] || rm -f "$prefix/dosdevices/com7"
    rm -rf "$work"
}
trap cleanup EXIT

# A script under Wine: the build's DLL registered in its prefix, COM7 linked to the line.
wine_client() {  # build-dir
    local build=$1 loader=/usr/lib/wine/wine64 sysdir=system32 bits=64
    if grep -q 'toolchain-mingw32' "$build/CMakeCache.txt" 2>/dev/null; then
        loader=/usr/lib/wine/wine; sysdir=syswow64; bits=32
        if ! reason=$("$root/cmake/runs-32bit.sh" "$build/probe"); then echo "win$bits: $reason"; return; fi
    fi
    local shim=$build/host/support/libquor_modemshim$bits.so sim=$build/host/native/tools/pulsyn-sim/pulsyn-sim
    prefix=$build/wineprefix
    dll=$build/src/server/QuorLib.dll
    for f in "$dll" "$shim" "$sim"; do
        [ -e "$f" ] || { echo "win$bits: $f is missing: build $build first"; dll=""; return; }
    done
    "$root/cmake/wine.sh" start "$prefix" </dev/null >/dev/null 2>&1
    wine_run() { "$root/cmake/wine.sh" run "$prefix" "$loader" "C:\\windows\\$sysdir\\regsvr32.exe" "$@"; }
    wine_run=wine_run
    wine_run /s "$(winpath "$dll")" </dev/null >/dev/null 2>&1
    mkdir -p "$prefix/dosdevices"
    ln -sfn "$work/device" "$prefix/dosdevices/com7"
    cp "$here/trigger_latency.js" "$work/"
    # The script's stamps are read on the wall clock (its Date).
    measure --sim "$sim" --label "cscript, Wine $bits-bit" --clock wall --link "$work/device" -- \
        env LD_PRELOAD="$shim" "$root/cmake/wine.sh" run "$prefix" "$loader" "C:\\windows\\$sysdir\\cscript.exe" \
        //nologo "$(winpath "$work/trigger_latency.js")" "$count" COM7 </dev/null
    wine_run /s /u "$(winpath "$dll")" </dev/null >/dev/null 2>&1
    dll=""
    rm -f "$prefix/dosdevices/com7"
}

echo "Trigger latency, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
measure --header
IFS=, read -r -a wanted <<<"$clients"
for c in "${wanted[@]}"; do
    case $c in
    bare) measure --sim "$native/tools/pulsyn-sim/pulsyn-sim" --label "bare writes, native" -- \
              sh -c "exec \"\$0\" \"\$1\" --bare \"\$QUORLIB_COM7\"" "$native/bench/trigger_latency" "$count" ;;
    native) measure --sim "$native/tools/pulsyn-sim/pulsyn-sim" --label "C++, native" -- \
                "$native/bench/trigger_latency" "$count" COM7 ;;
    python) measure --sim "$native/tools/pulsyn-sim/pulsyn-sim" --label "Python, native" -- \
                env PYTHONPATH="$native/python" /usr/bin/python3 "$here/trigger_latency.py" --client "$count" ;;
    win64) wine_client "$root/build/win64" ;;
    win32) wine_client "$root/build/win32" ;;
    *) echo "trigger-latency: no client $c" >&2; exit 2 ;;
    esac
done
