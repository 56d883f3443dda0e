#!/usr/bin/env bash
# Builds what QuorLib ships and assembles it in dist/QuorLib-<version>/:
#
#   x64/QuorLib.dll, x86/QuorLib.dll     the automation server for 64-bit and 32-bit programs
#   simulator/pulsyn-sim.exe             the stimulator simulator for Windows (64-bit)
#   simulator/pulsyn-sim                 the same for Linux (x86-64)
#   examples/                            the lab session in VBScript, JScript, VBA, PowerShell,
#                                        Python (pywin32, comtypes, and the Linux module),
#                                        MATLAB and C#
#   INSTALL.md, INSTALL.html             registering, bitness, ports, errors
#   docs/reference.md, .html             every call, its checks and messages; troubleshooting
#                                        (the HTML pages made by scripts/lib/md-to-html.py)
#   CHANGELOG.md
#   SHA256SUMS
#
# and next to it the installer dist/QuorLib-Setup-<version>.exe (NSIS, installer/QuorLib.nsi)
# for 64-bit Windows, which carries the same files but the Linux simulator and the Linux-only
# example (installer/file-lists.sh), the same files as a Windows Installer package for
# managed machines, dist/QuorLib-<version>.msi (msitools' wixl, installer/QuorLib.wxs), and
# the Python package quorlib as a wheel for Debian's own Python, dist/quorlib-<version>-<tags>.whl.
#
# Sets itself up (scripts/setup.sh) and builds in build/win64, build/win32 and build/native.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(QuorLib VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
copyright=$(sed -n 's/^set(QUOR_COPYRIGHT "\(.*\)")$/\1/p' CMakeLists.txt)
out=dist/QuorLib-$version
installer=dist/QuorLib-Setup-$version.exe
msi=dist/QuorLib-$version.msi

./scripts/setup.sh >/dev/null
# As many compile jobs as the machine has processors, unless the environment says.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
build() {  # preset targets...
    local preset=$1; shift
    echo "release: building $* ($preset)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target "$@" >/dev/null
}
build win64 QuorLib pulsyn-sim
build win32 QuorLib
build native pulsyn-sim

rm -rf "$out"
mkdir -p "$out/x64" "$out/x86" "$out/simulator" "$out/examples"
# Shipped without debugging information.
x86_64-w64-mingw32-strip -o "$out/x64/QuorLib.dll" build/win64/src/server/QuorLib.dll
i686-w64-mingw32-strip -o "$out/x86/QuorLib.dll" build/win32/src/server/QuorLib.dll
x86_64-w64-mingw32-strip -o "$out/simulator/pulsyn-sim.exe" build/win64/tools/pulsyn-sim/pulsyn-sim.exe
strip -o "$out/simulator/pulsyn-sim" build/native/tools/pulsyn-sim/pulsyn-sim
tar -C examples --exclude=__pycache__ --exclude=bin --exclude=obj -cf - . | tar -C "$out/examples" -xf -
# The guide sits at the top of the folder, the reference in docs/ as in the sources.
sed 's#](\.\./docs/#](docs/#g' "$out/examples/INSTALL.md" >"$out/INSTALL.md"
rm "$out/examples/INSTALL.md"
mkdir -p "$out/docs"
sed 's#](\.\./examples/INSTALL\.md#](../INSTALL.md#g' docs/reference.md >"$out/docs/reference.md"
cp CHANGELOG.md "$out/CHANGELOG.md"
# The guide and the reference also as HTML pages, which the installer's finish page and
# Start-menu entries open in the browser; fails on a link that leads nowhere.
/usr/bin/python3 scripts/lib/md-to-html.py "$out" INSTALL.md docs/reference.md
(cd "$out" && find . -type f ! -name SHA256SUMS | sort | xargs sha256sum >SHA256SUMS)

echo "release: building $installer"
# The installer's version resource wants four numbers.
numbers=$(printf '%s.0.0' "$version" | cut -d. -f1-3)
installer/file-lists.sh "$out" build/installer
rm -f "$installer"
makensis -V2 -DVERSION="$numbers" -DCOPYRIGHT="$copyright" -DRELEASE="$out" -DLISTS="$PWD/build/installer" \
    -DOUTFILE="$PWD/$installer" installer/QuorLib.nsi

echo "release: building $msi"
# wixl takes the files' names relative to where it runs: it runs in dist/.
installer/msi-files.py "$out" build/installer
rm -f "$msi"
(cd dist && wixl -a x64 -D Version="$version" -D Release="QuorLib-$version" -I ../build/installer \
    -o "QuorLib-$version.msi" ../installer/QuorLib.wxs)

# The wheel is built for the Python it is built with: Debian's, whose headers and pybind11 the
# setup installs (a lab machine with Debian 12 installs it without building).
echo "release: building the quorlib wheel for /usr/bin/python3"
rm -f dist/quorlib-"$version"-*.whl
QUORLIB_CMAKE_BUILD_DIR=$PWD/build/wheel /usr/bin/python3 -m pip wheel --quiet --no-deps --no-index \
    --no-build-isolation --wheel-dir dist . >/dev/null
wheel=$(ls dist/quorlib-"$version"-*.whl)

echo "release: $out"
(cd "$out" && find . -type f | sort | while read -r f; do printf '  %-36s %9s bytes\n' "${f#./}" "$(stat -c %s "$f")"; done)
printf 'release: %s, %s bytes\n' "$installer" "$(stat -c %s "$installer")"
printf 'release: %s, %s bytes\n' "$msi" "$(stat -c %s "$msi")"
printf 'release: %s, %s bytes\n' "$wheel" "$(stat -c %s "$wheel")"
