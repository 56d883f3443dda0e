#!/usr/bin/env bash
# Commands through a real automation client (Wine's VBScript engine) while the simulated
# stimulator disturbs the line:
#
#   stall-soak.sh <pulsyn-sim> <wine.sh> <prefix> <loader> <system-dir> <QuorLib.dll> <shim> [<commands>]
#
# Three sessions of the same commands (triggers and channel delays, the device set to refuse
# delays over 50 ms so that every third or so is refused):
#   - the device holds the line for 1.5 s after every prompt byte, so commands meet a held line
#     at every stage and some run out of time while writing;
#   - the same for 0.8 s, so held commands go out late, within the write limit;
#   - 0.8 s holds, every reply a little slow, and in between a reply that comes after the
#     client has stopped waiting for it (while the next commands are under way) and one that
#     never comes.
# Every command of the first two meets the same held line: <commands> of them (24 unless given;
# the test command runs 12, a soak more). The third always sends 24, the faults placed among them.
#
# What each call reported must be true of the device: every command reported sent arrived as
# often as it was sent, none reported failed arrived, and each channel delay's True or False is
# what the device answered to that very frame, in time (a reply that came late, or never, is
# False, and an earlier command's late reply is never taken as the answer to a later one).
set -euo pipefail
sim=$1; wine_sh=$2; prefix=$3; loader=$4; sysdir=$5; dll=$6; shim=$7; stall_commands=${8:-24}
here=$(cd "$(dirname "$0")" && pwd)

. "$here/client-setup.sh"

# Delays of i ms (i a multiple of 4) are within the device's limit, those of 100 + i ms are not.
cat <<'VBS' | sed 's/$/\r/' >"$work/stall.vbs.in"
Set p = CreateObject("QuorLib.Pulsyn")
If Not p.Connect Then
    WScript.Echo "NOT CONNECTED"
    WScript.Quit 3
End If
On Error Resume Next
For i = 1 To COMMANDS
    Err.Clear
    answer = ""
    If i Mod 2 = 1 Then
        what = "T" & (1 + ((i \ 2) Mod 9))
        p.Trigger 1 + ((i \ 2) Mod 9)
    Else
        ms = i
        If i Mod 4 <> 0 Then ms = 100 + i
        what = "L" & ms
        If p.SetChannelDelay(1, ms * 0.001) Then answer = " True" Else answer = " False"
    End If
    If Err.Number = 0 Then
        WScript.Echo "SENT " & what & answer
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
transcript = json.load(open(sys.argv[2]))
if isinstance(transcript, dict):
    transcript = transcript.get("transcript", [])
mode = sys.argv[3]
if not results or results[-1][0] != "DONE":
    sys.exit("FAIL: the script did not finish: %r" % results[-3:])

def name(cmd):
    if cmd.startswith("L1") and cmd.endswith("R"):
        return "L%d" % round(float(cmd[2:-1]) * 1000)
    return cmd

# The device's side: each frame in order, what it answered and when that answer left. Replies
# leave in the order of their frames; a frame whose answer was held back has none.
frames, awaiting, pending = [], [], ""
for event in transcript:
    kind = event["ev"]
    if kind == "frame":
        frame = {"name": name(event["cmd"]), "t": event["t"], "answer": event["result"], "replied_at": None,
                 "silenced": False}
        frames.append(frame)
        if event["reply"]:
            awaiting.append(frame)
    elif kind == "silent" and event["cmd"] != "=":
        frames[-1]["silenced"] = True
        awaiting.remove(frames[-1])
    elif kind == "tx":
        pending += event["bytes"]
        while pending:
            if pending[0] == "=":
                pending = pending[1:]
            elif pending[0] == "<" and len(pending) >= 5 and len(pending) >= 5 + int(pending[1:5]):
                size = int(pending[1:5])
                if not awaiting or awaiting[0]["answer"] != pending[5:5 + size]:
                    sys.exit("FAIL: a reply %r left that answers no frame: %r" % (pending[:5 + size], awaiting[:1]))
                awaiting.pop(0)["replied_at"] = event["t"]
                pending = pending[5 + size:]
            elif pending[0] == "<":
                break
            else:
                sys.exit("FAIL: the device wrote %r" % pending)

sent = collections.Counter(r[1] for r in results if r[0] == "SENT")
failed = [r[1] for r in results if r[0] == "FAIL"]
for r in results:
    if r[0] == "FAIL" and not r[2].startswith("Write error"):
        sys.exit("FAIL: %s failed with an unexpected message: %s" % (r[1], r[2]))
arrived = collections.Counter(f["name"] for f in frames)
problems = []
for what, count in sent.items():
    if arrived[what] != count:
        problems.append("%s reported sent %d times, arrived %d times" % (what, count, arrived[what]))
for what in failed:
    if what.startswith("L") and arrived[what]:
        problems.append("%s reported failed but arrived" % what)
if sum(arrived.values()) != sum(sent.values()):
    problems.append("%d commands arrived, %d reported sent" % (sum(arrived.values()), sum(sent.values())))

# The client waits 15 s for a reply from the moment it starts a command, the frame itself
# arriving up to a held line's 0.8 s later: a reply within 10 s of its frame is in time, one
# after 15 s is late, and none is sent in between.
by_name = {f["name"]: f for f in frames}
seen = collections.Counter()
for r in results:
    if r[0] != "SENT" or not r[1].startswith("L"):
        continue
    frame = by_name[r[1]] if r[1] in by_name else None
    if frame is None:
        continue
    if frame["silenced"]:
        how, expected = "missing", "False"
    elif frame["replied_at"] is None:
        problems.append("%s: the device's reply never left, yet the session ended" % r[1])
        continue
    else:
        wait = frame["replied_at"] - frame["t"]
        if 10 <= wait <= 15:
            problems.append("%s: its reply left %.1f s after the frame, too close to the client's limit to judge" % (r[1], wait))
            continue
        how = "late" if wait > 15 else "in time"
        expected = "True" if how == "in time" and frame["answer"].startswith("O") else "False"
    seen[how] += 1
    seen[expected] += 1
    if r[2] != expected:
        problems.append("%s returned %s, but the device answered %r (%s)" % (r[1], r[2], frame["answer"], how))
if not sent and mode == "some-sent":
    problems.append("no command was reported sent although the line was held for less than the write limit")
wanted = {"some-sent": ["True", "False"], "faults": ["True", "False", "late", "missing"]}.get(mode, [])
for what in wanted:
    if not seen[what]:
        problems.append("no channel delay came out %s" % what)
if problems:
    sys.exit("FAIL: " + "; ".join(problems) + "\nframes: %r" % frames)
print("%d commands reported sent all arrived; %d reported failed, none arrived; channel delays: %s" %
      (sum(sent.values()), len(failed), dict(seen)))
PY
}

# Picks the reply faults of each channel delay in the third session while it runs: a fault is
# switched while the client waits for the previous channel delay's (slow) reply, so it meets
# exactly the commands that follow. The 4th and 10th replies come late (each while the next,
# refused, delay is awaited), the 8th never.
drive_reply_faults() {
    local n=0 setters=0 cmd fault
    while [ "$setters" -lt 12 ]; do
        n=$((n + 1))
        control "wait frames $n 60000" | grep -q '"ok":true' || return 0
        cmd=$(control frames | python3 -c 'import json, sys; print(json.load(sys.stdin)["frames"]['"$n"' - 1])')
        case "$cmd" in *R) ;; *) continue ;; esac
        setters=$((setters + 1))
        case "$((setters + 1))" in
            4 | 10) fault="delay=16500 silence=off" ;;
            8) fault="delay=1500 silence" ;;
            *) fault="delay=1500 silence=off" ;;
        esac
        control "fault $fault" >/dev/null
    done
}

control "limit delay=0.05" >/dev/null
# 1.5 s: a command whose prompt went out has its frame held past the write limit; 0.8 s: a
# held command goes out late, within the limit.
for pass in "1500 any $stall_commands" "800 some-sent $stall_commands" "800 faults 24"; do
    read -r stall expect commands <<<"$pass"
    sed "s/COMMANDS/$commands/" "$work/stall.vbs.in" >"$work/stall.vbs"
    control reset >/dev/null
    control "fault stall=$stall" >/dev/null
    driver=""
    if [ "$expect" = faults ]; then
        control "fault delay=1500" >/dev/null
        echo "== cscript from $sysdir: $commands commands, the line stalled for $stall ms after every prompt, replies slow, late and missing"
        drive_reply_faults &
        driver=$!
    else
        echo "== cscript from $sysdir: $commands commands while the stimulator stalls the line for $stall ms after every prompt"
    fi
    status=0
    LD_PRELOAD="$shim" timeout 240 "$wine_sh" run "$prefix" "$loader" "C:\\windows\\$sysdir\\cscript.exe" //nologo \
        "$(winpath "$work/stall.vbs")" COM7 >"$work/out.txt" 2>&1 </dev/null || status=$?
    tr -d '\r' <"$work/out.txt" | grep -E '^(SENT|FAIL|DONE|NOT)' >"$work/results.txt" || true
    cat "$work/results.txt"
    if [ -n "$driver" ]; then
        kill "$driver" 2>/dev/null || true
        wait "$driver" 2>/dev/null || true
    fi
    if [ "$status" != 0 ]; then echo "FAIL: the session ended with exit code $status" >&2; exit 1; fi
    control "fault stall=off delay=off silence=off" >/dev/null
    control "wait idle" >/dev/null
    control transcript >"$work/transcript.json"
    check "$work/results.txt" "$work/transcript.json" "$expect"
done
