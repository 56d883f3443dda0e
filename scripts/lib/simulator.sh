# Shell helpers for running the simulated stimulator next to a client; sourced by the demo
# and by the Windows tests' wrappers.

# start_simulator <pulsyn-sim> <work-dir> <name> [option...]
#   Starts the simulator in the background and waits until it has opened its line and its
#   control port. Sets SIM_PID, SIM_PATH (the client's end of the line) and SIM_PORT (the
#   control port on 127.0.0.1). Its output stays open on a FIFO <work-dir>/<name>.out.
start_simulator() {
    local sim=$1 work=$2 name=$3
    shift 3
    mkfifo "$work/$name.out"
    "$sim" --quiet "$@" >"$work/$name.out" </dev/null &
    SIM_PID=$!
    local fd control
    exec {fd}<"$work/$name.out"
    # The simulator prints the client path, then "control 127.0.0.1:PORT", once both exist.
    read -r -t 20 SIM_PATH <&"$fd"
    read -r -t 20 control <&"$fd"
    SIM_PORT=${control##*:}
}

# sim_control <control port> <command>: one control command, one line of JSON back.
sim_control() {
    local fd line
    exec {fd}<>"/dev/tcp/127.0.0.1/$1"
    printf '%s\n' "$2" >&"$fd"
    read -r -t 60 line <&"$fd"
    exec {fd}>&-
    printf '%s\n' "$line"
}

# winpath <file>: the name under which Wine's programs see a Unix file (Z:\...).
winpath() {
    local p
    p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    printf 'Z:%s' "${p//\//\\}"
}

# stop_simulator: lets the simulator started last finish what it received, then ends it, so
# that it writes its state file; waits for it.
stop_simulator() {
    local fd
    exec {fd}<>"/dev/tcp/127.0.0.1/$SIM_PORT"
    printf 'wait idle\nquit\n' >&"$fd"
    timeout 60 cat <&"$fd" >/dev/null || true
    exec {fd}>&-
    wait "$SIM_PID" 2>/dev/null || true
}
