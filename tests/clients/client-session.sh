#!/usr/bin/env bash
# Runs an example session through a real automation client under Wine and checks it.
#
#   client-session.sh <pulsyn-sim> <wine.sh> <prefix> <loader> <system-dir> <QuorLib.dll> <shim> <script>
#
# <shim> "none" runs the session without the modem-line shim: COM7 is then a bare
# pseudo-terminal, as in the simulator recipe, and the saved log must say that the port was
# used without modem lines.
#
# Registers the DLL with the regsvr32 of <system-dir> (system32 for 64 bits, syswow64 for 32),
# links COM7 to a simulated stimulator, runs <script> with that folder's cscript and COM7 on
# its command line, asks the simulator what it received, unregisters, and hands the session's
# output, the frames, the device state and the saved log to check_session.py.
set -euo pipefail
sim=$1; wine_sh=$2; prefix=$3; loader=$4; sysdir=$5; dll=$6; shim=$7; script=$8
here=$(cd "$(dirname "$0")" && pwd)

. "$here/client-setup.sh"

cp "$script" "$work/"
echo "== cscript from $sysdir: $(basename "$script") COM7"
# The modem-line shim goes to the Wine process only.
[ "$shim" != none ] || shim=""
LD_PRELOAD="$shim" wine "C:\\windows\\$sysdir\\cscript.exe" //nologo "$(winpath "$work/$(basename "$script")")" \
    COM7 "/log:$(winpath "$work/session.rtf")" >"$work/output.txt" || status=$?
tr -d '\r' <"$work/output.txt"
if [ "${status:-0}" != 0 ]; then echo "FAIL: the session ended with exit code $status" >&2; exit 1; fi

control "wait idle" >/dev/null
control frames >"$work/frames.json"
control quit >/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

unregister

python3 "$here/check_session.py" "$work/output.txt" "$work/frames.json" "$work/state.json" "$work/session.rtf"
if [ -z "$shim" ] && ! grep -q -F "COM7 has no modem lines (its driver does not support DTR and RTS): used without them" "$work/session.rtf"; then
    echo "FAIL: the saved log does not say that COM7 was used without modem lines" >&2
    exit 1
fi
