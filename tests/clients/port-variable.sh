#!/usr/bin/env bash
# QUORLIB_PORT through a real automation client: cscript with no argument, as a host that
# has no command line to put "COM7" on.
#
#   port-variable.sh <pulsyn-sim> <wine.sh> <prefix> <loader> <system-dir> <QuorLib.dll> <shim>
#
# QUORLIB_PORT=COM7 connects to the simulated stimulator on COM7 (under Wine the search
# finds no port at all, so a connection proves the variable was read); a COM argument
# still wins over it; a variable naming a port that is not there, or no port, fails the
# connection with the library's message instead of searching.
set -euo pipefail
sim=$1; wine_sh=$2; prefix=$3; loader=$4; sysdir=$5; dll=$6; shim=$7
here=$(cd "$(dirname "$0")" && pwd)

. "$here/client-setup.sh"

printf '%s\r\n' 'Set p = CreateObject("QuorLib.Pulsyn")' 'On Error Resume Next' 'ok = p.Connect' \
    'If Err.Number <> 0 Then WScript.Echo "error: " & Err.Description : WScript.Quit 0' \
    'WScript.Echo "connected: " & ok' 'p.ChangeParadigm WScript.Arguments.Count + 4' >"$work/port.vbs"
failures=0
# session <QUORLIB_PORT> <expected output> [argument]: one cscript run.
session() {
    local variable=$1 want=$2 output
    shift 2
    output=$(QUORLIB_PORT="$variable" LD_PRELOAD="$shim" wine "C:\\windows\\$sysdir\\cscript.exe" //nologo \
        "$(winpath "$work/port.vbs")" "$@" </dev/null | tr -d '\r')
    echo "QUORLIB_PORT=$variable ${*:-(no argument)}: $output"
    if [ "$output" != "$want" ]; then echo "FAIL: expected: $want" >&2; failures=$((failures + 1)); fi
}
session COM7 "connected: True"
session com9 "connected: True" COM7
session COM9 "error: Error accessing specified device (Error: 2) "
session 7 "error: The environment variable QUORLIB_PORT is \"7\", which names no port: set it to the stimulator's port, e.g. COM7, or remove it to let QuorLib search for the stimulator."

# The examples print the error that stops them, where Wine's cscript would print nothing and
# exit with 0, and end with exit code 1.
for example in session.vbs session.js; do
    cp "$here/../../examples/$example" "$work/$example"
    status=0
    output=$(QUORLIB_PORT=7 LD_PRELOAD="$shim" wine "C:\\windows\\$sysdir\\cscript.exe" //nologo \
        "$(winpath "$work/$example")" "/log:$(winpath "$work/unused.rtf")" </dev/null | tr -d '\r') || status=$?
    echo "$example with QUORLIB_PORT=7: $(tail -n 1 <<<"$output") (exit code $status)"
    if ! grep -q "^Stopped by an error: .*The environment variable QUORLIB_PORT is \"7\", which names no port" <<<"$output" ||
       [ "$status" != 1 ]; then
        echo "FAIL: $example did not print the error that stopped it and end with exit code 1: $output" >&2
        failures=$((failures + 1))
    fi
done

control "wait idle" >/dev/null
frames=$(control frames)
echo "frames: $frames"
# Paradigm 4 from the run without argument, 5 from the run with COM7.
grep -q '"Y4R".*"Y5R"' <<<"$frames" || { echo "FAIL: the stimulator did not get Y4R, then Y5R" >&2; failures=$((failures + 1)); }
exit $((failures > 0))
