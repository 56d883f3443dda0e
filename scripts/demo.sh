#!/usr/bin/env bash
# The main job: a lab session against the bundled stimulator simulator, no hardware needed.
# Sets itself up, builds, starts the simulator on a virtual serial line, runs one scripted
# session through the library (connect, program a paradigm, trigger, copy, save the log),
# shows what the simulated stimulator holds afterwards, and cleans up.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native --target pulsyn-sim pulsyn-demo quorval >/dev/null

work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/sim.out"
build/native/tools/pulsyn-sim/pulsyn-sim --quiet --state-file "$work/state.json" >"$work/sim.out" </dev/null &
sim_pid=$!
exec 3<"$work/sim.out"
read -r sim_path <&3
read -r control <&3
echo "Simulated stimulator on $sim_path (control ${control#control })."
echo

# On Linux, COM7 names whatever device QUORLIB_COM7 points at.
QUORLIB_COM7="$sim_path" build/native/tools/demo/pulsyn-demo COM7 --log "$work/session.rtf"

kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=""
echo
echo "What the stimulator holds now (paradigms 2 and 3, channels 1 and 2):"
python3 - "$work/state.json" <<'PY'
import json, sys
state = json.load(open(sys.argv[1]))
print(f"  selected paradigm: {state['paradigm']}; triggers: " +
      ", ".join(f"channel {t['channel']}" for t in state['triggers']))
for p in state["paradigms"]:
    if p["number"] not in (2, 3):
        continue
    for c in p["channels"]:
        if c["channel"] in (1, 2):
            fields = ", ".join(f"{k} {c[k]}" for k in ("mode", "shape", "delay", "duration", "interval", "count", "voltage", "step") if c.get(k) not in (None, ""))
            print(f"  paradigm {p['number']} channel {c['channel']}: {fields}")
PY
echo
echo "The saved session log is Rich Text Format; its first lines:"
head -n 6 "$work/session.rtf" | sed 's/^/  /'
echo
echo "Device number text for a few values (what the stimulator receives):"
build/native/tools/quorval/quorval 0.025 0.0004 12345 -2.5 1e10 | sed 's/^/  /' || true
