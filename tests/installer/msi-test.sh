#!/usr/bin/env bash
# The Windows Installer package as a lab's IT department deploys it, under Wine's msiexec, on
# a clean prefix of its own:
#
#   msi-test.sh <QuorLib-<version>.msi> <release folder> <pulsyn-sim> <work folder>
#
#   1. an older version, packaged from the same release files, installed silently
#      (msiexec /i ... /qn), then this one over it: one QuorLib left, of this version;
#   2. the files, the Start-menu entries, each bitness's class and type library naming its
#      own DLL, the shared name QuorLib.Pulsyn;
#   3. the example VBScript session, run from the installed folder with the cscript of each
#      bitness this machine can run, against the simulator on a COM port linked to its
#      pseudo-terminal exactly as the README says (no modem lines: the port is used without
#      them, and the saved log says so);
#   4. msiexec /x ... /qn, then nothing of ours left: no file or folder that was not there
#      before, no registry key or value naming QuorLib, its class, type library or interface.
set -euo pipefail
msi=$(realpath "$1"); release=$(realpath "$2"); sim=$3; work=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/wine-prefix.sh"
# The product's entries among the installed programs: "<key> <version>" a line.
installed_products() {
    wine64_output reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
        awk '/^HKEY/ { key = $0 } /DisplayName.*QuorLib/ { named[key] = 1 } /DisplayVersion/ { version[key] = $3 }
             END { for (k in named) print k, version[k] }'
}

files_of_prefix >"$work/files-before"
version=$(msiinfo export "$msi" Property | sed -n 's/^ProductVersion\t//p' | tr -d '\r')
install_dir='C:\Program Files\QuorLib'
install_unix="$prefix/drive_c/Program Files/QuorLib"

# 1. The older version, from the same files, then this one over it.
echo "== QuorLib-0.9.0.msi: an older version, packaged from the same release"
"$here/../../installer/msi-files.py" "$release" "$work"
(cd "$(dirname "$release")" && wixl -a x64 -D Version=0.9.0 -D Release="$(basename "$release")" -I "$work" \
    -o "$work/QuorLib-0.9.0.msi" "$root/installer/QuorLib.wxs")
t=$SECONDS
wine64 msiexec /i "$(winpath "$work/QuorLib-0.9.0.msi")" /qn || fail "msiexec /i QuorLib-0.9.0.msi /qn failed"
settle
echo "   installed in $((SECONDS - t)) s: $(installed_products | tr '\n' ' ')"
installed_products | grep -q ' 0\.9\.0$' || fail "the older version is not listed among the installed programs"
echo "== msiexec /i $(basename "$msi") /qn"
t=$SECONDS
wine64 msiexec /i "$(winpath "$msi")" /qn || fail "msiexec /i $(basename "$msi") /qn failed"
settle
products=$(installed_products)
echo "   installed in $((SECONDS - t)) s: $(tr '\n' ' ' <<<"$products")"
[ "$(wc -l <<<"$products")" = 1 ] && grep -q " $version\$" <<<"$products" ||
    fail "after the upgrade the installed programs list $(tr '\n' ' ' <<<"$products"), not one QuorLib $version"

# 2. Files, Start menu, registration.
for f in x64/QuorLib.dll x86/QuorLib.dll INSTALL.md INSTALL.html docs/reference.md docs/reference.html CHANGELOG.md \
         examples/session.vbs simulator/pulsyn-sim.exe; do
    cmp -s "$install_unix/$f" "$release/$f" || fail "not installed as released: $f"
done
[ ! -e "$install_unix/simulator/pulsyn-sim" ] || fail "the Linux simulator was installed"
# Windows puts a per-machine package's entries in the common Start menu; Wine's msiexec in the
# user's.
menu=$(ls -d "$prefix"/drive_c/ProgramData/Microsoft/Windows/"Start Menu"/Programs/QuorLib \
             "$prefix"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/QuorLib 2>/dev/null |
       head -n 1 || true)
for link in "QuorLib install guide" "QuorLib reference" "QuorLib examples"; do
    [ -f "$menu/$link.lnk" ] || fail "no Start-menu entry \"$link\" (in ${menu:-no Start menu folder})"
done
clsid='{FD7AD882-6D86-41B8-BADE-73487A8C71A4}'
typelib='HKLM\Software\Classes\TypeLib\{D628F04D-0AF6-4971-B2E1-10ECA673A707}\1.0\0'
expect_value() {  # <what> <registry key> <text the value holds> [<reg.exe>]
    local output
    if [ -n "${4:-}" ]; then
        output=$(/usr/lib/wine/wine "$4" query "$2" </dev/null 2>>"$work/wine.log" | tr -d '\r' || true)
    else
        output=$(wine64_output reg query "$2")
    fi
    grep -q -i -F "$3" <<<"$output" || fail "$1: $2 does not hold $3"
}
expect_value "the 64-bit class" "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" "$install_dir\\x64\\QuorLib.dll"
expect_value "the shared name" 'HKLM\Software\Classes\QuorLib.Pulsyn\Clsid' "$clsid"
expect_value "the 64-bit type library" "$typelib\\win64" "$install_dir\\x64\\QuorLib.dll"
expect_value "the 32-bit type library" "$typelib\\win32" "$install_dir\\x86\\QuorLib.dll"
if [ "$runs_32bit" = 1 ]; then
    expect_value "the 32-bit class" "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" \
        "$install_dir\\x86\\QuorLib.dll" 'C:\windows\syswow64\reg.exe'
fi

# 3. The session, on a COM port linked to the simulator's pseudo-terminal as the README says.
session() {  # <system-dir> <loader>
    local sysdir=$1 status=0
    mkdir -p "$work/session-$sysdir"
    echo "== installed examples\\session.vbs with $sysdir\\cscript, COM5 linked to the simulator (no modem lines)"
    installed_session "$sim" "$sysdir" "$2" "" COM5 "$install_dir\\examples\\session.vbs" \
        "/log:$(winpath "$work/session-$sysdir/session.rtf")" || status=$?
    [ "$status" = 0 ] || fail "the session with $sysdir\\cscript ended with exit code $status"
    check_session "$sysdir" "$work/session-$sysdir/session.rtf"
    grep -q -F "COM5 has no modem lines (its driver does not support DTR and RTS): used without them" \
        "$work/session-$sysdir/session.rtf" ||
        fail "the saved log of the $sysdir session does not say that COM5 was used without modem lines"
}
session system32 /usr/lib/wine/wine64
if [ "$runs_32bit" = 1 ]; then session syswow64 /usr/lib/wine/wine; else echo "== 32-bit session skipped: $why_not_32bit"; fi

# 4. Removal.
echo "== msiexec /x $(basename "$msi") /qn"
t=$SECONDS
wine64 msiexec /x "$(winpath "$msi")" /qn || fail "msiexec /x $(basename "$msi") /qn failed"
settle
echo "   removed in $((SECONDS - t)) s"
nothing_left "$work/files-before" "the removal"

if [ "$failures" = 0 ]; then
    echo "msi: upgrade over an older version, session in each bitness and silent removal left nothing behind"
fi
exit $((failures > 0))
