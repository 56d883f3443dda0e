#!/usr/bin/env bash
# The per-user registration that the install guide describes, through regsvr32 under Wine:
#
#   per-user-registration.sh <wine.sh> <prefix> <loader> <system-dir> <QuorLib.dll>
#
# "regsvr32 /n /i:user QuorLib.dll" (DllInstall) puts the class under
# HKEY_CURRENT_USER\Software\Classes and nothing under the machine's classes;
# "regsvr32 /u /n /i:user QuorLib.dll" removes it again, type library included. A scope
# QuorLib does not know is refused and writes nothing.
set -euo pipefail
wine_sh=$1; prefix=$2; loader=$3; sysdir=$4; dll=$5
clsid='{FD7AD882-6D86-41B8-BADE-73487A8C71A4}'
libid='{D628F04D-0AF6-4971-B2E1-10ECA673A707}'
. "$(dirname "$0")/../../scripts/lib/simulator.sh"
wine() { "$wine_sh" run "$prefix" "$loader" "$@"; }
regsvr32() { wine "C:\\windows\\$sysdir\\regsvr32.exe" "$@" </dev/null 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# The registry as it is stored, through the 64-bit reg.exe. (Once the user's classes have a
# WOW6432Node, Wine shows a 32-bit program all of that node, the ProgID included, which Windows
# shares between the bitnesses: a 32-bit reg.exe would show Wine's view, not the stored keys.)
present() { "$wine_sh" run "$prefix" /usr/lib/wine/wine64 reg.exe query "$1" </dev/null >/dev/null 2>&1; }
dll_path=$(winpath "$dll")
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# On 64-bit Windows a 32-bit per-user class lives in the classes' WOW6432Node (where WOW64
# redirects a 32-bit program's CLSID keys); the 32-bit build names that place itself, so under
# Wine, which does not redirect per-user classes, it is found there too and never in the
# 64-bit build's place.
if [ "$sysdir" = syswow64 ]; then
    class_key="HKCU\\Software\\Classes\\WOW6432Node\\CLSID\\$clsid"
    other_class_key="HKCU\\Software\\Classes\\CLSID\\$clsid"
else
    class_key="HKCU\\Software\\Classes\\CLSID\\$clsid"
    other_class_key="HKCU\\Software\\Classes\\WOW6432Node\\CLSID\\$clsid"
fi
user_keys=("HKCU\\Software\\Classes\\QuorLib.Pulsyn\\Clsid" "$class_key\\InprocServer32")
machine_keys=("HKLM\\Software\\Classes\\QuorLib.Pulsyn" "HKLM\\Software\\Classes\\CLSID\\$clsid")
trap 'regsvr32 /s /u /n /i:user "$dll_path" >/dev/null || true' EXIT

echo "== regsvr32 /n /i:everyone $dll_path"
status=0; output=$(regsvr32 /n /i:everyone "$dll_path") || status=$?
echo "$output (exit code $status)"
[ "$status" != 0 ] || fail "an unknown scope was accepted"
for key in "${user_keys[@]}" "${machine_keys[@]}"; do present "$key" && fail "written for an unknown scope: $key"; done

echo "== regsvr32 /n /i:user $dll_path"
status=0; output=$(regsvr32 /n /i:user "$dll_path") || status=$?
echo "$output (exit code $status)"
[ "$status" = 0 ] || fail "exit code $status"
for key in "${user_keys[@]}"; do present "$key" || fail "missing: $key"; done
for key in "${machine_keys[@]}"; do present "$key" && fail "written machine-wide: $key"; done
present "$other_class_key" && fail "written in the other bitness's place: $other_class_key"

echo "== regsvr32 /u /n /i:user $dll_path"
status=0; output=$(regsvr32 /u /n /i:user "$dll_path") || status=$?
echo "$output (exit code $status)"
[ "$status" = 0 ] || fail "exit code $status"
for key in "${user_keys[@]}" "$class_key" "HKCU\\Software\\Classes\\TypeLib\\$libid" \
           "HKLM\\Software\\Classes\\TypeLib\\$libid"; do
    present "$key" && fail "left behind: $key"
done

[ "$failures" = 0 ] && echo "per-user registration through DllInstall as documented"
exit $((failures > 0))
