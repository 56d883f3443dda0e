#!/usr/bin/env bash
# Sessions that end while connected, right after a trigger, through real automation clients
# (the VBScript and JScript engines of Wine's cscript), repeated:
#
#   end-connected.sh <pulsyn-sim> <wine.sh> <prefix> <loader> <system-dir> <QuorLib.dll> <shim> <runs>
#
# Each run must exit with 0 within 30 s, and the simulated stimulator must have every trigger.
set -euo pipefail
sim=$1; wine_sh=$2; prefix=$3; loader=$4; sysdir=$5; dll=$6; shim=$7; runs=$8
here=$(cd "$(dirname "$0")" && pwd)

. "$here/client-setup.sh"

printf '%s\r\n' 'Set p = CreateObject("QuorLib.Pulsyn")' 'If Not p.Connect Then WScript.Quit 3' \
    'p.Trigger 1' 'WScript.Echo "triggered"' >"$work/end.vbs"
printf '%s\r\n' 'var p = new ActiveXObject("QuorLib.Pulsyn");' 'if (!p.Connect()) WScript.Quit(3);' \
    'p.Trigger(1);' 'WScript.Echo("triggered");' >"$work/end.js"

triggers=0
for run in $(seq 1 "$runs"); do
    for script in end.vbs end.js; do
        start=$SECONDS
        status=0
        LD_PRELOAD="$shim" timeout 30 "$wine_sh" run "$prefix" "$loader" "C:\\windows\\$sysdir\\cscript.exe" //nologo \
            "$(winpath "$work/$script")" COM7 >"$work/out.txt" 2>&1 </dev/null || status=$?
        triggers=$((triggers + 1))
        if [ "$status" != 0 ]; then
            echo "FAIL: run $run of $script ended with exit code $status after $((SECONDS - start)) s" >&2
            tr -d '\r' <"$work/out.txt" >&2
            exit 1
        fi
        if ! control "wait triggers $triggers 5000" | grep -q '"ok":true'; then
            echo "FAIL: run $run of $script: the stimulator did not get trigger $triggers" >&2
            exit 1
        fi
    done
done
echo "$runs runs of each session ended while connected, right after a trigger: all exited 0, $triggers triggers arrived"
