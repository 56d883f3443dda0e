#!/usr/bin/env bash
# The library in a real automation host: Wine's cscript runs bench/host_bench.vbs against the
# registered QuorLib.dll of a Windows build and a simulated stimulator on COM7, and this
# script watches the host process from outside and prints its figures: resident memory at
# the start, every 10,000 dialogues and at the end, the time per dialogue, the processor
# time while idle-connected, and the same for a device that streams without end, and for a
# port that is lost.
#
#   bench/host-bench.sh [--build DIR] [--dialogues N] [--seconds S] [--cases LIST]
#
#   --build DIR      a win64 or win32 build tree (default build/win64); its DLL, its Wine
#                    prefix and the simulator built with it are used
#   --dialogues N    dialogues of the memory run (default 100000; about 3 ms each); the
#                    traffic log is full after about 125,000, and from 130,000 on the growth
#                    per dialogue is printed on its own (the process's own growth, log full)
#   --seconds S      length of each stream and lost-port case (default 60)
#   --cases LIST     comma-separated, of: dialogues, stream-idle, stream-busy, stream-silent,
#                    lost (default all)
#   --dll FILE       this DLL instead of the build's (a copy, to compare with a later build)
#
# CPU is the host process's (user and system time over wall time: 100% is one core), and
# next to it Wine's server process's, which does part of the host's work under Wine.
# Benchmarks print figures; nothing here passes or fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$root/build/win64
dialogues=100000
log_full=130000  # dialogues after which the traffic log is surely full
seconds=60
dll=""
cases=dialogues,stream-idle,stream-busy,stream-silent,lost
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --dialogues) dialogues=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --dll) dll=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    *) echo "usage: host-bench.sh [--build DIR] [--dialogues N] [--seconds S] [--cases LIST]" >&2; exit 2 ;;
    esac
done

[ -n "$dll" ] || dll=$build/src/server/QuorLib.dll
prefix=$build/wineprefix
sim=$build/host/native/tools/pulsyn-sim/pulsyn-sim
if grep -q 'toolchain-mingw32' "$build/CMakeCache.txt" 2>/dev/null; then
    loader=/usr/lib/wine/wine; sysdir=syswow64; bits=32
    shim=$build/host/support/libquor_modemshim32.so
    if ! reason=$("$root/cmake/runs-32bit.sh" "$build/probe"); then echo "host-bench: $reason" >&2; exit 1; fi
else
    loader=/usr/lib/wine/wine64; sysdir=system32; bits=64
    shim=$build/host/support/libquor_modemshim64.so
fi
for f in "$dll" "$sim" "$shim"; do
    [ -e "$f" ] || { echo "host-bench: $f is missing: build $build first" >&2; exit 1; }
done

. "$root/scripts/lib/simulator.sh"
wine_sh=$root/cmake/wine.sh
"$wine_sh" start "$prefix" </dev/null >/dev/null 2>&1
wine() { "$wine_sh" run "$prefix" "$loader" "$@"; }

work=$(mktemp -d)
sim_pid=""
host_pid=""
registered=0
cleanup() {
    if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    if [ "$registered" = 1 ]; then wine "C:\\windows\\$sysdir\\regsvr32.exe" /s /u "$(winpath "$dll")" || true; fi
    rm -f "$prefix/dosdevices/com7"
    rm -rf "$work"
}
trap cleanup EXIT
cp "$here/host_bench.vbs" "$work/"
wine "C:\\windows\\$sysdir\\regsvr32.exe" /s "$(winpath "$dll")" </dev/null >/dev/null 2>&1
registered=1

# Wine's server for this prefix, whose processor time belongs to the host's work too.
server_pid=""
for p in /proc/[0-9]*; do
    case $(cat "$p/comm" 2>/dev/null) in wineserver*) ;; *) continue ;; esac
    if tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then server_pid=${p#/proc/}; fi
done

ticks=$(getconf CLK_TCK)
cpu_ticks() { { [ -n "$1" ] && awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; } || echo -; }
rss_mb() { awk '/^VmRSS:/ {printf "%.1f", $2 / 1024}' "/proc/$1/status" 2>/dev/null || echo "-"; }
now() { date +%s.%N; }
percent() {  # ticks-before ticks-after seconds-before seconds-after
    # (over less than half a second the clock's ticks say little)
    if [ "$1" = - ] || [ "$2" = - ]; then echo "-"; return; fi
    awk -v a="$1" -v b="$2" -v s="$3" -v e="$4" -v t="$ticks" \
        'BEGIN { if (e - s < 0.5) print "-"; else printf "%.1f", 100 * (b - a) / t / (e - s) }'
}

# Runs one case: a fresh simulator with the given faults, then the script; prints a line
# per step with the host's memory and processor time.
run_case() {  # name mode amount fault...
    local name=$1 mode=$2 amount=$3
    shift 3
    start_simulator "$sim" "$work" "sim-$name" --link "$work/device-$name" "$@"
    sim_pid=$SIM_PID
    mkdir -p "$prefix/dosdevices"
    ln -sfn "$work/device-$name" "$prefix/dosdevices/com7"
    echo "== $bits-bit host, case $name: $mode $amount${*:+ (simulator: $*)}"
    : >"$work/out-$name.txt"
    LD_PRELOAD="$shim" "$wine_sh" run "$prefix" "$loader" "C:\\windows\\$sysdir\\cscript.exe" //nologo \
        "$(winpath "$work/host_bench.vbs")" COM7 "$mode" "$amount" >"$work/out-$name.txt" 2>/dev/null </dev/null &
    host_pid=$!
    local t0 c0 s0 t1 c1 s1 line first_rss="" begin_t="" full_n="" full_rss=""
    t0=$(now); c0=$(cpu_ticks "$host_pid"); s0=$(cpu_ticks "$server_pid")
    printf '%-22s %9s %12s %10s %12s\n' "step" "seconds" "resident MB" "host CPU" "server CPU"
    # The output is a file, not a pipe: Wine's helper processes would keep a pipe open.
    while IFS= read -r line; do
        line=${line%$'\r'}
        t1=$(now); c1=$(cpu_ticks "$host_pid"); s1=$(cpu_ticks "$server_pid")
        local rss
        rss=$(rss_mb "$host_pid")
        case $line in
        connected) first_rss=$rss ;;
        dialogues-begin) begin_t=$t1 ;;
        progress*)
            set -- $line
            if [ -z "$full_n" ] && [ "$2" -ge "$log_full" ]; then full_n=$2; full_rss=$rss; fi
            ;;
        dialogues-end*)
            set -- $line
            awk -v n="$2" -v a="$3" -v s="$begin_t" -v e="$t1" \
                'BEGIN { printf "   %d dialogues, %d acknowledged, %.3f ms each\n", n, a, 1000 * (e - s) / (n > 0 ? n : 1) }'
            if [ -n "$full_n" ] && [ "$2" -gt "$full_n" ]; then
                awk -v n="$2" -v f="$full_n" -v a="$full_rss" -v b="$rss" 'BEGIN {
                    printf "   growth with the log full, from %d to %d dialogues: %.1f -> %.1f MB, %.0f bytes a dialogue\n",
                           f, n, a, b, (b - a) * 1048576 / (n - f) }'
            elif [ "$mode" = dialogues ]; then
                echo "   (the log fills at about 125,000 dialogues: run $log_full or more for the growth after that)"
            fi
            ;;
        esac
        printf '%-22s %9.1f %12s %9s%% %11s%%\n' "${line:0:22}" "$(awk -v a="$t0" -v b="$t1" 'BEGIN{print b-a}')" \
            "$rss" "$(percent "$c0" "$c1" "$t0" "$t1")" "$(percent "$s0" "$s1" "$t0" "$t1")"
        t0=$t1; c0=$c1; s0=$s1
        [ "$line" = done ] && break
    done < <(tail -s 0.1 -n +1 -f --pid="$host_pid" "$work/out-$name.txt")
    wait "$host_pid" 2>/dev/null || true
    host_pid=""
    [ -n "$first_rss" ] || { echo "   the host did not connect:"; tr -d '\r' <"$work/out-$name.txt"; }
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}

echo "QuorLib in Wine's cscript ($bits bits), $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores"
IFS=, read -r -a wanted <<<"$cases"
for c in "${wanted[@]}"; do
    case $c in
    dialogues) run_case dialogues dialogues "$dialogues" ;;
    stream-idle) run_case stream-idle idle "$seconds" --fault stream ;;
    stream-busy) run_case stream-busy busy "$seconds" --fault stream ;;
    stream-silent) run_case stream-silent busy "$seconds" --fault stream --fault silence ;;
    lost) run_case lost lost "$seconds" --fault hangup=2 ;;
    *) echo "host-bench: no case $c" >&2; exit 2 ;;
    esac
done
