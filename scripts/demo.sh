#!/usr/bin/env bash
# The main job: a real client session with the registered QuorLib.dll, against the bundled
# stimulator simulator, no hardware needed.
#
#   ./scripts/demo.sh            VBScript through the registered 64-bit DLL, under Wine
#   ./scripts/demo.sh --native   the same session from a C++ program, natively on Linux (tools/demo)
#   ./scripts/demo.sh --python   the same session from Python on Linux (examples/session_linux.py)
#
# Sets itself up and builds; makes a private Wine prefix (build/demo/prefix), registers the
# DLL there with regsvr32, starts the simulator on a serial line that the prefix sees as COM7,
# and runs examples/session.vbs through Wine's cscript with the argument COM7. Then prints the
# session's output, the traffic log the session saved, and what the simulated stimulator
# holds. Unregisters and stops everything it started on the way out.
set -euo pipefail
# A mistyped option must not start the long Wine session instead.
case "${1:-}" in
    ""|--native|--python) ;;
    *) echo "demo.sh: unknown option '$1': give none (VBScript under Wine), --native or --python" >&2; exit 2 ;;
esac
if [ $# -gt 1 ]; then echo "demo.sh: one option at most, not '$*'" >&2; exit 2; fi
cd "$(dirname "$0")/.."
root=$PWD
. scripts/lib/simulator.sh
# As many compile jobs as the machine has processors, unless the environment says.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}

# What the simulated stimulator holds: paradigms 2 and 3, channels 1 and 2, and the triggers.
show_state() {
    python3 - "$1" <<'PY'
import json, sys
state = json.load(open(sys.argv[1]))
modes = dict(O="off", F="free run", N="train", G="triggered", C="DC", T="gate", W="twin")
shapes = dict(M="monopolar", B="bipolar", R="ramp")
def seconds(text):
    value = float(text)
    return f"{value * 1000:g} ms" if value < 1 else f"{value:g} s"
print(f"  selected paradigm {state['paradigm']}; triggers fired: " +
      (", ".join(f"channel {t['channel']} (paradigm {t['paradigm']})" for t in state["triggers"]) or "none"))
for p in state["paradigms"]:
    if p["number"] not in (2, 3):
        continue
    for c in p["channels"]:
        if c["channel"] not in (1, 2):
            continue
        print(f"  paradigm {p['number']} channel {c['channel']}: {modes.get(c['mode'], c['mode'])}, "
              f"{shapes.get(c['shape'], c['shape'])}, delay {seconds(c['delay'])}, "
              f"duration {seconds(c['duration'])}, interval {seconds(c['interval'])}, "
              f"{float(c['count']):g} pulses, {float(c['voltage']):g} V, step {float(c['step']):+g} V")
    if p["links"]:
        print(f"  paradigm {p['number']} links: {p['links']}")
PY
}

# The session of examples/session.vbs from a C++ program (tools/demo), natively.
native_demo() {
    cmake --preset native >/dev/null
    cmake --build --preset native --target pulsyn-sim pulsyn-demo quorval >/dev/null
    work=$(mktemp -d)
    sim_pid=""
    trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
    start_simulator build/native/tools/pulsyn-sim/pulsyn-sim "$work" sim --state-file "$work/state.json"
    sim_pid=$SIM_PID
    echo "Simulated stimulator on $SIM_PATH, which QUORLIB_COM7 makes COM7 (control 127.0.0.1:$SIM_PORT)."
    echo
    echo "build/native/tools/demo/pulsyn-demo COM7 --log $work/session.rtf"
    echo "------------------------------------------------------------------------------"
    status=0
    # On Linux, COM7 names whatever device QUORLIB_COM7 points at.
    QUORLIB_COM7="$SIM_PATH" build/native/tools/demo/pulsyn-demo COM7 --log "$work/session.rtf" || status=$?
    echo "------------------------------------------------------------------------------"
    stop_simulator; sim_pid=""
    echo
    if [ -s "$work/session.rtf" ]; then
        echo "The traffic log the session saved, one command a line (-> sent to the stimulator, <- received):"
        python3 scripts/session-log.py --by-command "$work/session.rtf"
        echo
    fi
    echo "What the stimulator holds now:"
    show_state "$work/state.json"
    echo
    echo "Device number text for a few values (what the stimulator receives):"
    build/native/tools/quorval/quorval 0.025 0.0004 12345 -2.5 1e10 | sed 's/^/  /' || true
    return "$status"
}

# The session of examples/session_linux.py through the quorlib module, natively.
python_demo() {
    cmake --preset native >/dev/null
    cmake --build --preset native --target pulsyn-sim quorlib >/dev/null
    work=$(mktemp -d)
    sim_pid=""
    trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
    start_simulator build/native/tools/pulsyn-sim/pulsyn-sim "$work" sim --state-file "$work/state.json"
    sim_pid=$SIM_PID
    echo "Simulated stimulator on $SIM_PATH, which QUORLIB_COM7 makes COM7."
    echo
    echo "python3 examples/session_linux.py COM7 --log=$work/session.rtf"
    echo "------------------------------------------------------------------------------"
    status=0
    QUORLIB_COM7="$SIM_PATH" PYTHONPATH="$root/build/native/python" \
        /usr/bin/python3 examples/session_linux.py COM7 "--log=$work/session.rtf" || status=$?
    echo "------------------------------------------------------------------------------"
    stop_simulator; sim_pid=""
    echo
    if [ -s "$work/session.rtf" ]; then
        echo "The traffic log the session saved, one command a line (-> sent to the stimulator, <- received):"
        python3 scripts/session-log.py --by-command "$work/session.rtf"
        echo
    fi
    echo "What the stimulator holds now:"
    show_state "$work/state.json"
    return "$status"
}

./scripts/setup.sh >/dev/null
case "${1:-}" in
    --native) native_demo; exit ;;
    --python) python_demo; exit ;;
esac

echo "Building the 64-bit QuorLib.dll and the simulator (build/win64)..."
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target QuorLib quor_host_sim quor_host_support >/dev/null
dll=$root/build/win64/src/server/QuorLib.dll
sim=$root/build/win64/host/native/tools/pulsyn-sim/pulsyn-sim
# Wine's serial driver needs modem lines that a Linux pseudo-terminal lacks: this small
# library, preloaded into Wine only, supplies them (a null-modem cable, in effect).
shim=$root/build/win64/host/support/libquor_modemshim64.so
prefix=$root/build/demo/prefix
wine_sh=$root/cmake/wine.sh

work=$(mktemp -d)
sim_pid=""
registered=0
wine_started=0
wine() { "$wine_sh" run "$prefix" /usr/lib/wine/wine64 "$@"; }
cleanup() {
    if [ "$registered" = 1 ]; then wine regsvr32 /s /u "$(winpath "$dll")" || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -f "$prefix/dosdevices/com7"
    if [ "$wine_started" = 1 ]; then "$wine_sh" stop "$prefix"; fi
    rm -rf "$work"
}
trap cleanup EXIT

echo "Starting a private Wine prefix (build/demo/prefix; the first time takes a minute)..."
mkdir -p "$(dirname "$prefix")"
wine_started=1
"$wine_sh" start "$prefix"

echo "Registering QuorLib.dll: regsvr32 $(winpath "$dll")"
wine regsvr32 /s "$(winpath "$dll")"
registered=1

start_simulator "$sim" "$work" sim --link "$work/stimulator" --state-file "$work/state.json"
sim_pid=$SIM_PID
sim_path=$SIM_PATH
ln -sfn "$work/stimulator" "$prefix/dosdevices/com7"
echo "Simulated stimulator on $sim_path, which the prefix sees as COM7."
echo
echo "cscript //nologo examples\\session.vbs COM7 /log:$(winpath "$work/session.rtf")"
echo "------------------------------------------------------------------------------"
cp examples/session.vbs "$work/session.vbs"
status=0
LD_PRELOAD="$shim" wine cscript //nologo "$(winpath "$work/session.vbs")" COM7 "/log:$(winpath "$work/session.rtf")" \
    | tr -d '\r' || status=$?
echo "------------------------------------------------------------------------------"

# Let the simulator finish what it received, then end it so that it writes its state.
port=$SIM_PORT
exec 4<>"/dev/tcp/127.0.0.1/$port"
printf 'wait idle\nquit\n' >&4
timeout 60 cat <&4 >/dev/null || true
exec 4>&-
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

wine regsvr32 /s /u "$(winpath "$dll")"
registered=0
echo "Unregistered QuorLib.dll."
echo
if [ -s "$work/session.rtf" ]; then
    echo "The traffic log the session saved, one command a line (-> sent to the stimulator, <- received;"
    echo "the file is Rich Text Format with one line per write or read, sent in red, received in green):"
    python3 scripts/session-log.py --by-command "$work/session.rtf"
    echo
fi
echo "What the simulated stimulator holds now:"
show_state "$work/state.json"
exit "$status"
