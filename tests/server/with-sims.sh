#!/usr/bin/env bash
# Runs a Windows test program under Wine next to two simulated stimulators.
#
#   with-sims.sh <pulsyn-sim> <wine-prefix> -- <command> [args...]
#
# Device A's line is linked as COM7 and COM12, device B's as COM9 and COM3; the control
# ports go to the program in QUORLIB_TEST_SIM_A and QUORLIB_TEST_SIM_B.
set -euo pipefail
sim=$1; prefix=$2; shift 2
[ "${1:-}" = "--" ] && shift

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "$prefix/dosdevices/com7" "$prefix/dosdevices/com12" "$prefix/dosdevices/com9" "$prefix/dosdevices/com3"
    rm -rf "$work"
}
trap cleanup EXIT

start_device() {  # name -> sets path_<name> and port_<name>
    local name=$1
    mkfifo "$work/$name.out"
    "$sim" --quiet --link "$work/$name" >"$work/$name.out" </dev/null &
    pids+=($!)
    local fd
    exec {fd}<"$work/$name.out"
    # The simulator prints the client path, then the control port, as soon as both exist.
    read -r -t 20 "path_$name" <&"$fd"
    local control
    read -r -t 20 control <&"$fd"  # "control 127.0.0.1:PORT"
    printf -v "port_$name" '%s' "${control##*:}"
}

start_device A
start_device B
mkdir -p "$prefix/dosdevices"
ln -sfn "$work/A" "$prefix/dosdevices/com7"
ln -sfn "$work/A" "$prefix/dosdevices/com12"
ln -sfn "$work/B" "$prefix/dosdevices/com9"
ln -sfn "$work/B" "$prefix/dosdevices/com3"

export QUORLIB_TEST_SIM_A="$port_A" QUORLIB_TEST_SIM_B="$port_B"
# The modem-line shim (QUOR_TEST_PRELOAD) goes to the Wine process only, not to the simulators.
LD_PRELOAD="${QUOR_TEST_PRELOAD:-}" "$@"
