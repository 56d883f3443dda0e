# The surroundings of the installer tests, sourced by them after they set root (the source
# tree) and work (a work folder, emptied here): a clean Wine prefix of their own, the example
# session against the simulator, and the check that nothing of QuorLib's is left.
#
# Sets prefix, documents (the user's Documents folder, a folder of the prefix), runs_32bit and
# why_not_32bit, and failures (counted by fail).
. "$root/scripts/lib/simulator.sh"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix=$work/prefix
# No debugger, and no menu entries or icons on this machine's own desktop for the
# installers' Start-menu entries (winemenubuilder would make .desktop files of them).
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d"
server=/usr/lib/wine/wineserver64
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    "$root/cmake/wine.sh" stop "$prefix"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Every Wine program writes to files, never to the test's output: Wine's helper processes
# inherit their streams and would hold a caller's pipe open.
wine64() { /usr/lib/wine/wine64 "$@" </dev/null >>"$work/wine.log" 2>&1; }
# The standard output of a Wine program, through a file for the same reason.
wine64_output() {
    /usr/lib/wine/wine64 "$@" </dev/null >"$work/output.txt" 2>>"$work/wine.log" || true
    tr -d '\r' <"$work/output.txt"
}
# The server ends once the prefix's last program has: that is how an uninstaller, which
# hands over to a copy of itself and returns, is awaited. Its end also writes the registry
# to system.reg and user.reg.
settle() { "$server" -w; }
reg_has() { wine64 reg query "$@"; }
registry_mentions() {
    grep -i -h -E 'QuorLib|Pulsyn|FD7AD882-6D86-41B8-BADE-73487A8C71A4|D628F04D-0AF6-4971-B2E1-10ECA673A707|3EEA728F-63D9-4C91-AFE7-49375FAFAACD|BF2AC4E6-8D10-49B3-B69C-C4D131FA2D8A|18E66CEC-75F1-4C18-872A-0D66A4D73543' \
        "$prefix/system.reg" "$prefix/user.reg" || true
}
files_of_prefix() { (cd "$prefix/drive_c" && find . -mindepth 1 | LC_ALL=C sort); }

# nothing_left <list of the files before> <what was removed>: no file or folder that was not
# there before (but what Wine itself writes while programs run: its temporary folders, and
# the folder where Windows Installer caches packages, which Windows always has), and
# no registry key or value naming QuorLib, its class, type library, interfaces or entry.
nothing_left() {
    local left keys
    files_of_prefix >"$work/files-after"
    left=$(LC_ALL=C comm -13 "$1" "$work/files-after" |
           grep -v -E '^\./(windows/temp|users/[^/]+/(Temp|AppData/Local/Temp))(/|$)|^\./windows/Installer$' || true)
    [ -z "$left" ] || fail "files left after $2: $(tr '\n' ' ' <<<"$left")"
    keys=$(registry_mentions)
    [ -z "$keys" ] || fail "registry entries left after $2: $(tr '\n' ' ' <<<"$keys")"
}

# installed_session <pulsyn-sim> <system-dir> <loader> <preload> <COM port>
#                   <session.vbs as Windows sees it> [<argument>...]: the example session
# through the cscript of that folder, against the simulator on a line that the port is linked
# to, as the README's recipe links it; <preload> (or "") goes to the Wine process only.
# Leaves output.txt, frames.json and state.json in $work/session-<system-dir>; returns the
# session's exit code.
installed_session() {
    local sim=$1 sysdir=$2 loader=$3 preload=$4 com=$5 script=$6 dir status=0
    shift 6
    dir=$work/session-$sysdir
    mkdir -p "$dir"
    start_simulator "$sim" "$dir" sim --link "$dir/pulsyn" --state-file "$dir/state.json"
    sim_pid=$SIM_PID
    ln -sf "$dir/pulsyn" "$prefix/dosdevices/${com,,}"
    LD_PRELOAD="$preload" "$loader" "C:\\windows\\$sysdir\\cscript.exe" //nologo "$script" "$com" "$@" \
        </dev/null >"$dir/output.txt" 2>>"$work/wine.log" || status=$?
    sim_control "$SIM_PORT" "wait idle" >/dev/null
    sim_control "$SIM_PORT" frames >"$dir/frames.json"
    sim_control "$SIM_PORT" quit >/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
    rm -f "$prefix/dosdevices/${com,,}"
    return "$status"
}

# check_session <system-dir> <saved log>: the session's output, frames, state and log.
check_session() {
    local dir=$work/session-$1
    python3 "$root/tests/clients/check_session.py" "$dir/output.txt" "$dir/frames.json" "$dir/state.json" "$2" &&
        echo "   every frame, the device state and the saved log as expected" || fail "the session with $1\\cscript"
}

"$root/cmake/wine.sh" display "$prefix"
if [ -s "$prefix.display" ]; then export DISPLAY=":$(tr -d ' \n' <"$prefix.display")"; fi
start=$SECONDS
wine64 wineboot -i
settle
echo "== clean prefix made in $((SECONDS - start)) s"
# Wine links the user's Documents folder to this machine's home folder: a folder of the prefix
# instead, so that the examples' logs stay in the test's work folder.
documents=$(ls -d "$prefix"/drive_c/users/*/Documents | grep -v '/Public/' | head -n 1)
rm -f "$documents"
mkdir -p "$documents"
runs_32bit=1
why_not_32bit=$("$root/cmake/runs-32bit.sh" "$work/probe") || runs_32bit=0
