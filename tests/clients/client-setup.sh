# The surroundings of a client test under Wine; sourced by the client tests after they have
# set sim, wine_sh, prefix, loader, sysdir and dll. Makes a work folder, starts the simulated
# stimulator on a line that the prefix sees as COM7 (its state written to $work/state.json
# when it quits), registers the DLL with the regsvr32 of $sysdir, and undoes all of it on
# exit. Defines wine (a program of the build's bitness), control (one control command to the
# simulator, one line of JSON back) and unregister.
work=$(mktemp -d)
sim_pid=""
registered=0
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/simulator.sh"
wine() { "$wine_sh" run "$prefix" "$loader" "$@"; }
unregister() {
    wine "C:\\windows\\$sysdir\\regsvr32.exe" /s /u "$(winpath "$dll")"
    registered=0
}
cleanup() {
    if [ "$registered" = 1 ]; then unregister || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -f "$prefix/dosdevices/com7"
    rm -rf "$work"
}
trap cleanup EXIT
control() { sim_control "$port" "$1"; }

start_simulator "$sim" "$work" sim --link "$work/device" --state-file "$work/state.json"
sim_pid=$SIM_PID
port=$SIM_PORT
mkdir -p "$prefix/dosdevices"
ln -sfn "$work/device" "$prefix/dosdevices/com7"

echo "== regsvr32 from $sysdir"
wine "C:\\windows\\$sysdir\\regsvr32.exe" /s "$(winpath "$dll")"
registered=1
