#!/usr/bin/env bash
# Commands through a real automation client (Wine's VBScript engine) while the simulated
# stimulator holds the line for 1.5 s after every prompt byte it receives, so that commands
# meet a held line at every stage:
#
#   stall-soak.sh <pulsyn-sim> <wine.sh> <prefix> <loader> <system-dir> <QuorLib.dll> <shim>
#
# What each call reported must be true of the device: every command reported sent arrived,
# and none reported failed did.
set -euo pipefail
sim=$1; wine_sh=$2; prefix=$3; loader=$4; sysdir=$5; dll=$6; shim=$7
here=$(cd "$(dirname "$0")" && pwd)

. "$here/client-setup.sh"

cat <<'VBS' | sed 's/$/\r/' >"$work/stall.vbs"
Set p = CreateObject("QuorLib.Pulsyn")
If Not p.Connect Then
    WScript.Echo "NOT CONNECTED"
    WScript.Quit 3
End If
On Error Resume Next
For i = 1 To 24
    Err.Clear
    If i Mod 2 = 1 Then
        what = "T" & (1 + ((i \ 2) Mod 9))
        p.Trigger 1 + ((i \ 2) Mod 9)
    Else
        what = "L" & i
        accepted = p.SetChannelDelay(1, i * 0.001)
    End If
    If Err.Number = 0 Then
        WScript.Echo "SENT " & what
    Else
        WScript.Echo "FAIL " & what & " " & Err.Description
    End If
Next
WScript.Echo "DONE"
VBS

check() {
    python3 - "$1" "$2" "$3" <<'PY'
import collections, json, sys
results = [line.split(" ", 2) for line in open(sys.argv[1]).read().splitlines()]
frames = json.load(open(sys.argv[2]))
if frames and isinstance(frames, dict):
    frames = frames.get("frames", [])
if not results or results[-1][0] != "DONE":
    sys.exit("FAIL: the script did not finish: %r" % results[-3:])
sent = collections.Counter(r[1] for r in results if r[0] == "SENT")
failed = [r[1] for r in results if r[0] == "FAIL"]
for r in results:
    if r[0] == "FAIL" and not r[2].startswith("Write error"):
        sys.exit("FAIL: %s failed with an unexpected message: %s" % (r[1], r[2]))
arrived = collections.Counter()
for frame in frames:
    if frame.startswith("L1") and frame.endswith("R"):
        arrived["L%d" % round(float(frame[2:-1]) / 0.001)] += 1
    else:
        arrived[frame] += 1
problems = []
for what, count in sent.items():
    if arrived[what] != count:
        problems.append("%s reported sent %d times, arrived %d times" % (what, count, arrived[what]))
for what in failed:
    if what.startswith("L") and arrived[what]:
        problems.append("%s reported failed but arrived" % what)
if sum(arrived.values()) != sum(sent.values()):
    problems.append("%d commands arrived, %d reported sent" % (sum(arrived.values()), sum(sent.values())))
if not sent and sys.argv[3] == "some-sent":
    problems.append("no command was reported sent although the line was held for less than the write limit")
if problems:
    sys.exit("FAIL: " + "; ".join(problems) + "\nframes: %r" % frames)
print("%d commands reported sent all arrived; %d reported failed, none arrived" % (sum(sent.values()), len(failed)))
PY
}

# 1.5 s: a command whose prompt went out has its frame held past the write limit; 0.8 s: a
# held command goes out late, within the limit.
for pass in "1500 any" "800 some-sent"; do
    read -r stall expect <<<"$pass"
    control reset >/dev/null
    control "fault stall=$stall" >/dev/null
    echo "== cscript from $sysdir: 24 commands while the stimulator stalls the line for $stall ms after every prompt"
    status=0
    LD_PRELOAD="$shim" timeout 240 "$wine_sh" run "$prefix" "$loader" "C:\\windows\\$sysdir\\cscript.exe" //nologo \
        "$(winpath "$work/stall.vbs")" COM7 >"$work/out.txt" 2>&1 </dev/null || status=$?
    tr -d '\r' <"$work/out.txt" | grep -E '^(SENT|FAIL|DONE|NOT)' >"$work/results.txt" || true
    cat "$work/results.txt"
    if [ "$status" != 0 ]; then echo "FAIL: the session ended with exit code $status" >&2; exit 1; fi
    control "fault stall=off" >/dev/null
    control "wait idle" >/dev/null
    control frames >"$work/frames.json"
    check "$work/results.txt" "$work/frames.json" "$expect"
done
