#!/bin/sh
# Fails when a Windows binary imports anything but system DLLs: the compiler's run time
# (libgcc, libstdc++, winpthread) must be linked in, so that each file ships alone.
# usage: check-imports.sh <objdump> <binary>...
set -eu
objdump=$1; shift
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|comctl32|comdlg32|shell32|shlwapi|msvcrt|ws2_32|riched20|msftedit|uxtheme|version|rpcrt4|ntdll)\.dll$'
status=0
for binary in "$@"; do
    for dll in $("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
        lower=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
        if ! printf '%s\n' "$lower" | grep -Eq "$allowed"; then
            echo "$binary imports $dll, which is not a system DLL"
            status=1
        fi
    done
done
[ "$status" -eq 0 ] && echo "only system DLLs are imported by: $*"
exit "$status"
