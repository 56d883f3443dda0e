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

. "$(dirname "$0")/../../scripts/lib/simulator.sh"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "$prefix/dosdevices/com7" "$prefix/dosdevices/com12" "$prefix/dosdevices/com9" "$prefix/dosdevices/com3"
    rm -rf "$work"
}
trap cleanup EXIT

start_device() {  # name -> sets port_<name>
    start_simulator "$sim" "$work" "$1" --link "$work/$1"
    pids+=("$SIM_PID")
    printf -v "port_$1" '%s' "$SIM_PORT"
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
