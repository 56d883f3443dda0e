#!/usr/bin/env bash
# The installer as a lab's IT department uses it, under Wine, on a clean prefix of its own:
#
#   install-test.sh <QuorLib-Setup.exe> <pulsyn-sim> <modem-line shim 64> <shim 32> <work folder>
#
# Machine-wide, then per user, then machine-wide into a folder of a new folder
# (/D=C:\Lab\QuorLib), in the same prefix:
#   1. silent install (/S, and /CurrentUser for the second);
#   2. the files (the guide and the reference as HTML pages too), the Start-menu entries, the
#      entry of the installed programs, and the class registered in the mode's hive only, each
#      bitness's class naming its own DLL;
#   3. machine-wide: the example VBScript session, run from the installed folder as a user
#      would (no log name given: the log goes to the user's Documents folder), through the
#      installed DLL of each bitness this machine can run (cscript of System32, SysWOW64)
#      against the simulated stimulator. (Wine's COM does not create objects from a per-user
#      registration, so the per-user install is checked by its keys.)
#   4. the 32-bit DLL unregistered alone leaves the shared name QuorLib.Pulsyn and the 64-bit
#      class; then the silent uninstall with the entry's own QuietUninstallString;
#   5. nothing of ours left: no file or folder that was not there before the install (C:\Lab
#      included), no registry key or value naming QuorLib, its class, type library, interfaces
#      or entry.
#
# What Wine can and cannot show of the per-user install of both bitnesses: Windows keeps a
# 32-bit program's per-user CLSID keys in HKCU\Software\Classes\WOW6432Node (WOW64
# redirection), and the 32-bit DLL writes its class there itself. Wine redirects no per-user
# classes, so this test reads both places through the 64-bit registry and checks that each
# names its own DLL and that the second registration did not replace the first. It cannot show
# that a 32-bit program on Windows finds the class there (Wine's 32-bit programs look in the
# unredirected place, and Wine's COM ignores per-user classes altogether), nor that a client
# creates the object from a per-user registration: that needs Windows.
set -euo pipefail
installer=$(realpath "$1"); sim=$2; shim64=$3; shim32=$4; work=$5
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

. "$here/wine-prefix.sh"
clsid='{FD7AD882-6D86-41B8-BADE-73487A8C71A4}'
libid='{D628F04D-0AF6-4971-B2E1-10ECA673A707}'
entry='Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorLib'

# session <system-dir> <loader>: the installed example session with that folder's cscript, as a
# user runs it (no log name: the log goes to the user's Documents folder).
session() {
    local sysdir=$1 loader=$2 status=0
    echo "== installed examples\\session.vbs with $sysdir\\cscript, COM7"
    installed_session "$sim" "$sysdir" "$loader" "$shim64:$shim32" COM7 \
        "$install_dir_windows\\examples\\session.vbs" || status=$?
    [ "$status" = 0 ] || fail "the session with $sysdir\\cscript ended with exit code $status"
    # The log in the user's Documents folder, as the output says; it is the user's, so it
    # is moved out of the way before the uninstall is checked for leftovers.
    grep -q 'The traffic log is saved in C:\\users\\.*\\Documents\\pulsyn-session.rtf' "$work/session-$sysdir/output.txt" ||
        fail "the session does not say that its log is in the user's Documents folder"
    mv "$documents/pulsyn-session.rtf" "$work/session-$sysdir/session.rtf" 2>/dev/null || fail "no log in $documents"
    check_session "$sysdir" "$work/session-$sysdir/session.rtf"
}

# install_and_remove <mode> <hive of the mode> <other hive> <folder as Windows sees it> [/D=...]
install_and_remove() {
    local mode=$1 hive=$2 other=$3 status=0 t folder_switch=${5:-}
    install_dir_windows=$4
    local install_dir
    install_dir=$(wine64_output winepath -u "$install_dir_windows")
    install_dir=${install_dir%/}
    settle
    files_of_prefix >"$work/files-before-$mode"

    echo "== $(basename "$installer") /S /$mode $folder_switch"
    t=$SECONDS
    /usr/lib/wine/wine64 "$installer" /S "/$mode" ${folder_switch:+"$folder_switch"} </dev/null >>"$work/wine.log" 2>&1 || status=$?
    echo "   installed in $((SECONDS - t)) s, exit code $status"
    [ "$status" = 0 ] || fail "the installer ended with exit code $status"
    # The installer may go on in a process of its own after the one started here returned
    # (seen once: its Start-menu entries were there, its uninstall entry not yet): read what
    # it wrote only once every program of the prefix has ended.
    settle
    for f in x64/QuorLib.dll x86/QuorLib.dll INSTALL.md INSTALL.html docs/reference.md docs/reference.html \
             CHANGELOG.md examples/session.vbs \
             examples/session.ps1 simulator/pulsyn-sim.exe Uninstall.exe; do
        [ -f "$install_dir/$f" ] || fail "not installed: $install_dir/$f"
    done
    [ ! -e "$install_dir/simulator/pulsyn-sim" ] || fail "the Linux simulator was installed"
    [ ! -e "$install_dir/examples/session_linux.py" ] || fail "the Linux-only example was installed"
    local menu
    if [ "$mode" = AllUsers ]; then menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/QuorLib"
    else menu=$(ls -d "$prefix"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/QuorLib 2>/dev/null | head -n 1); fi
    for link in "QuorLib install guide" "QuorLib reference" "QuorLib examples" "Uninstall QuorLib"; do
        [ -f "$menu/$link.lnk" ] || fail "no Start-menu entry \"$link\" (in ${menu:-no Start menu folder})"
    done
    reg_has "$hive\\$entry" /v QuietUninstallString || fail "no entry $hive\\$entry"
    reg_has "$other\\$entry" && fail "an entry in $other too"
    wine64_output reg query "$hive\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >"$work/class64.txt"
    grep -q -i 'x64\\QuorLib.dll' "$work/class64.txt" ||
        fail "the 64-bit class in $hive does not name x64\\QuorLib.dll: $(tr '\n' ' ' <"$work/class64.txt")"
    reg_has "$other\\Software\\Classes\\CLSID\\$clsid" && fail "registered in $other too"
    # Each bitness's type library under its own platform key, naming its own DLL, in the
    # mode's hive only (a per-user install leaves the machine's keys alone).
    wine64_output reg query "$hive\\Software\\Classes\\TypeLib\\$libid\\1.0\\0" /s >"$work/typelib.txt"
    grep -A1 -i 'win64$' "$work/typelib.txt" | grep -q -i 'x64\\QuorLib.dll' ||
        fail "the 64-bit type library in $hive does not name x64\\QuorLib.dll: $(tr '\n' ' ' <"$work/typelib.txt")"
    if [ "$runs_32bit" = 1 ]; then
        grep -A1 -i 'win32$' "$work/typelib.txt" | grep -q -i 'x86\\QuorLib.dll' ||
            fail "the 32-bit type library in $hive does not name x86\\QuorLib.dll: $(tr '\n' ' ' <"$work/typelib.txt")"
    fi
    reg_has "$other\\Software\\Classes\\TypeLib\\$libid" && fail "a type library in $other too"
    if [ "$runs_32bit" = 1 ] && [ "$mode" = CurrentUser ]; then
        # Where Windows keeps a 32-bit program's per-user class, read as it is stored.
        wine64_output reg query "$hive\\Software\\Classes\\WOW6432Node\\CLSID\\$clsid\\InprocServer32" >"$work/class32.txt"
        grep -q -i 'x86\\QuorLib.dll' "$work/class32.txt" ||
            fail "the 32-bit per-user class is not in HKCU\\Software\\Classes\\WOW6432Node naming x86\\QuorLib.dll"
    elif [ "$runs_32bit" = 1 ]; then
        # The 32-bit reg.exe sees the registry as 32-bit programs do, wherever the system keeps
        # that view.
        /usr/lib/wine/wine "C:\\windows\\syswow64\\reg.exe" query "$hive\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" \
            </dev/null >"$work/output.txt" 2>>"$work/wine.log" || true
        grep -q -i 'x86\\QuorLib.dll' "$work/output.txt" || fail "the 32-bit DLL is not registered in $hive"
    fi

    if [ "$mode" = AllUsers ] && [ -z "$folder_switch" ]; then
        session system32 /usr/lib/wine/wine64
        if [ "$runs_32bit" = 1 ]; then session syswow64 /usr/lib/wine/wine; else echo "== 32-bit session skipped: $why_not_32bit"; fi
    fi

    if [ "$runs_32bit" = 1 ]; then
        # The name QuorLib.Pulsyn is shared by both bitnesses: removing the 32-bit registration
        # alone must leave it, and the 64-bit class, to 64-bit programs.
        local scope=""
        [ "$mode" = AllUsers ] || scope="/n /i:user"
        # shellcheck disable=SC2086
        /usr/lib/wine/wine "C:\\windows\\syswow64\\regsvr32.exe" /s /u $scope "$install_dir_windows\\x86\\QuorLib.dll" \
            </dev/null >>"$work/wine.log" 2>&1 || fail "unregistering the 32-bit DLL alone failed"
        settle
        reg_has "$hive\\Software\\Classes\\QuorLib.Pulsyn\\Clsid" ||
            fail "unregistering the 32-bit DLL removed the name QuorLib.Pulsyn that the 64-bit one still uses"
        reg_has "$hive\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" ||
            fail "unregistering the 32-bit DLL removed the 64-bit class"
        reg_has "$hive\\Software\\Classes\\TypeLib\\$libid\\1.0\\0\\win64" ||
            fail "unregistering the 32-bit DLL removed the 64-bit type library"
        reg_has "$hive\\Software\\Classes\\TypeLib\\$libid\\1.0\\0\\win32" &&
            fail "unregistering the 32-bit DLL left its type library"
    fi

    local uninstall
    uninstall=$(wine64_output reg query "$hive\\$entry" /v QuietUninstallString |
                sed -n 's/^ *QuietUninstallString *REG_SZ *//p')
    echo "== $uninstall"
    t=$SECONDS
    status=0
    # As the system runs it: the quoted program, then its arguments.
    local program=${uninstall#\"}
    program=${program%%\"*}
    read -r -a arguments <<<"${uninstall#\"$program\"}"
    /usr/lib/wine/wine64 "$program" "${arguments[@]}" </dev/null >>"$work/wine.log" 2>&1 || status=$?
    settle
    echo "   uninstalled in $((SECONDS - t)) s, exit code $status"
    [ "$status" = 0 ] || fail "the uninstaller ended with exit code $status"

    nothing_left "$work/files-before-$mode" "the uninstall"
    [ ! -e "$install_dir" ] || fail "the install folder is still there"
}

install_and_remove AllUsers HKLM HKCU 'C:\Program Files\QuorLib'
install_and_remove CurrentUser HKCU HKLM "$(wine64_output cmd /c echo %LOCALAPPDATA%)\\Programs\\QuorLib"
install_and_remove AllUsers HKLM HKCU 'C:\Lab\QuorLib' '/D=C:\Lab\QuorLib'

if [ "$failures" = 0 ]; then
    echo "installer: machine-wide and per-user install, session and uninstall left nothing behind"
fi
exit $((failures > 0))
