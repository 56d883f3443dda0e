#!/usr/bin/env bash
# quorlib installed as Python users install packages, offline, from a fresh clone: into a
# plain venv of Debian's Python and of another Python (pyenv's, when python3 on PATH is one),
# for the user, and as a wheel; then removed again. Runs in a throwaway folder with a
# throwaway home, so nothing of the user's is touched.
#
#   install-test.sh SOURCE_DIR SIMULATOR
set -euo pipefail
source_dir=$(realpath "$1")
simulator=$(realpath "$2")
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
other_python=$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null || true)
export HOME=$work/home PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PYTHONDONTWRITEBYTECODE=1
unset PYTHONPATH
mkdir -p "$HOME"
# One CMake build folder per Python: the later builds for the same Python only copy what the first built.
export QUORLIB_CMAKE_BUILD_DIR=$work/cmake
version=$(sed -n 's/^project(QuorLib VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
failures=0
total=0
check() {  # check WHAT COMMAND...: runs it, says whether it did
    local what=$1; shift
    total=$((total + 1))
    if "$@" >"$work/out" 2>&1; then echo "ok: $what"; else echo "FAILED: $what"; cat "$work/out"; failures=$((failures + 1)); fi
}
fails() {  # fails WHAT COMMAND...: the command must fail
    local what=$1; shift
    total=$((total + 1))
    if "$@" >"$work/out" 2>&1; then echo "FAILED: $what"; failures=$((failures + 1)); else echo "ok: $what"; fi
}
cd "$work"  # never the source folder: "import quorlib" must find the installed package

# A simulated stimulator for the installed command line.
coproc SIM { exec "$simulator" --quiet </dev/null; }
sim_pid=$SIM_PID
read -r device <&"${SIM[0]}"

# A fresh clone: the build must need nothing that is only in a working copy.
git clone --quiet "$source_dir" "$work/src"
source=$work/src

# 1. A plain venv (no system packages: no setuptools, no wheel) with Debian's Python.
python3=/usr/bin/python3
$python3 -m venv "$work/venv"
venv=$work/venv/bin
check "pip install . into a plain venv" "$venv/pip" install "$source"
check "__version__ is the project's version $version" \
    "$venv/python" -c "import quorlib, sys; sys.exit(quorlib.__version__ != '$version')"
check "the typing marker and the stub are installed" \
    "$venv/python" -c "import quorlib, os; d = os.path.dirname(quorlib.__file__); assert os.path.exists(d + '/py.typed') and os.path.exists(d + '/__init__.pyi')"
check "the quorlib command drives the stimulator" "$venv/quorlib" --port "$device" paradigm 4 trigger 2
check "python -m quorlib --help" "$venv/python" -m quorlib --help
check "pip uninstall quorlib" "$venv/pip" uninstall -y quorlib
fails "nothing of quorlib is left in the venv" "$venv/python" -c "import quorlib"
fails "the quorlib command is gone" test -e "$venv/quorlib"

# 2. Without cmake the build stops at once and says what to install.
mkdir "$work/no-cmake"
fails "pip install . without cmake fails" env PATH="$work/no-cmake" "$venv/pip" install "$source"
cp "$work/out" "$work/no-cmake.out"
check "... naming cmake and the command that installs it" grep -q "apt install cmake" "$work/no-cmake.out"
fails "... not with setuptools' bdist_wheel message" grep -q bdist_wheel "$work/no-cmake.out"

# 3. A Python that is not Debian's (pyenv's, found before the home is replaced), in its own
# plain venv.
if [ -n "$other_python" ] && [ "$(realpath "$other_python")" != "$(realpath $python3)" ]; then
    "$other_python" -m venv "$work/other"
    check "pip install . with $other_python" "$work/other/bin/pip" install "$source"
    check "... imports and drives the stimulator" "$work/other/bin/quorlib" --port "$device" trigger 3
else
    echo "skipped: no Python other than $python3 on PATH"
fi

# 4. A wheel, made with Debian's python3-build, installed and removed.
check "python3 -m build --wheel --no-isolation" $python3 -m build --wheel --no-isolation --outdir "$work/dist" "$source"
wheel=$(ls "$work"/dist/quorlib-"$version"-*.whl 2>/dev/null | head -1)
check "the wheel is named after the version" test -n "$wheel"
check "the wheel installs" "$venv/pip" install "$wheel"
check "the wheel's package imports" "$venv/python" -c "import quorlib; quorlib.Pulsyn"
check "the wheel uninstalls" "$venv/pip" uninstall -y quorlib

# 5. For the user, with Debian's own Python (which asks to be told that only the user's site
# is written: --break-system-packages), removed with the README's own line.
check "pip install --user ." $python3 -m pip install --user --break-system-packages "$source"
check "import quorlib from the user's site" $python3 -c "import quorlib, sys; sys.exit(not quorlib.__file__.startswith('$HOME'))"
uninstall=$(grep -o 'python3 -m pip uninstall [^`#]*quorlib' "$source/README.md" | head -1 || true)
check "the README says how to remove a --user install" test -n "$uninstall"
check "the README's uninstall line: $uninstall" env PATH="/usr/bin:/bin" sh -c "yes | $uninstall"
fails "nothing is left in the user's site" $python3 -c "import quorlib"

echo "$(( total - failures )) passed, $failures failed"
[ "$failures" -eq 0 ]
