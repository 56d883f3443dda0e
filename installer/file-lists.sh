#!/usr/bin/env bash
# Writes the installer's file lists from a release folder:
#
#   file-lists.sh <release folder> <output folder>
#
# install-files.nsh   SetOutPath and File lines for every file that the installer carries
# uninstall-files.nsh Delete lines for the same files, then RMDir for their folders, deepest
#                     first, so that the uninstaller removes what it installed and nothing else
#
# The Linux simulator, the Linux-only example session (it needs the Linux module) and the
# release's checksum list stay out: they serve the folder, not a Windows installation.
set -euo pipefail
release=$(cd "$1" && pwd); out=$2
mkdir -p "$out"
# NSIS reads "$" as the start of a variable.
nsis_text() { printf '%s' "${1//\$/\$\$}"; }
windows_path() { local p=${1//\//\\}; printf '%s' "${p#.}"; }

files=$(cd "$release" && find . -type f ! -path ./SHA256SUMS ! -path ./simulator/pulsyn-sim \
    ! -path ./examples/session_linux.py | LC_ALL=C sort)
[ -n "$files" ] || { echo "file-lists: $release holds no files" >&2; exit 1; }
{
    current=""
    while read -r f; do
        dir=$(dirname "$f")
        if [ "$dir" != "$current" ]; then
            printf 'SetOutPath "$INSTDIR%s"\n' "$(nsis_text "$(windows_path "$dir")")"
            current=$dir
        fi
        printf 'File "%s"\n' "$(nsis_text "$release/${f#./}")"
    done <<<"$files"
    printf 'SetOutPath "$INSTDIR"\n'
} >"$out/install-files.nsh"
{
    while read -r f; do
        printf 'Delete "$INSTDIR%s"\n' "$(nsis_text "$(windows_path "$f")")"
    done <<<"$files"
    # Every folder that holds a file, and the folders between it and the root.
    while read -r f; do
        d=$(dirname "$f")
        while [ "$d" != . ]; do echo "$d"; d=$(dirname "$d"); done
    done <<<"$files" | LC_ALL=C sort -u | awk -F/ '{ print NF "\t" $0 }' | sort -rn | cut -f2- |
    while read -r d; do
        printf 'RMDir "$INSTDIR%s"\n' "$(nsis_text "$(windows_path "$d")")"
    done
} >"$out/uninstall-files.nsh"
