#!/usr/bin/env bash
# quorlib installed as Python users install packages, offline, with Debian's pip, setuptools,
# wheel and build: into a venv, for the user, and as a wheel; then removed again. Runs in a
# throwaway folder with a throwaway home, so nothing of the user's is touched.
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
export HOME=$work/home PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PYTHONDONTWRITEBYTECODE=1
unset PYTHONPATH
mkdir -p "$HOME"
# One CMake build folder for the three builds: the later ones only copy what the first built.
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

# 1. A venv (it sees Debian's setuptools and wheel: pip builds without downloading).
python3=/usr/bin/python3
$python3 -m venv --system-site-packages "$work/venv"
venv=$work/venv/bin
check "pip install . into a venv" "$venv/pip" install --no-build-isolation "$source_dir"
check "__version__ is the project's version $version" \
    "$venv/python" -c "import quorlib, sys; sys.exit(quorlib.__version__ != '$version')"
check "the typing marker and the stub are installed" \
    "$venv/python" -c "import quorlib, os; d = os.path.dirname(quorlib.__file__); assert os.path.exists(d + '/py.typed') and os.path.exists(d + '/__init__.pyi')"
check "the quorlib command drives the stimulator" "$venv/quorlib" --port "$device" paradigm 4 trigger 2
check "python -m quorlib --help" "$venv/python" -m quorlib --help
check "pip uninstall quorlib" "$venv/pip" uninstall -y quorlib
fails "nothing of quorlib is left in the venv" "$venv/python" -c "import quorlib"
fails "the quorlib command is gone" test -e "$venv/quorlib"

# 2. A wheel, made with Debian's python3-build, installed and removed.
check "python3 -m build --wheel --no-isolation" $python3 -m build --wheel --no-isolation --outdir "$work/dist" "$source_dir"
wheel=$(ls "$work"/dist/quorlib-"$version"-*.whl 2>/dev/null | head -1)
check "the wheel is named after the version" test -n "$wheel"
check "the wheel installs" "$venv/pip" install "$wheel"
check "the wheel's package imports" "$venv/python" -c "import quorlib; quorlib.Pulsyn"
check "the wheel uninstalls" "$venv/pip" uninstall -y quorlib

# 3. For the user, with Debian's own Python (which asks to be told that only the user's site
# is written: --break-system-packages).
check "pip install --user ." $python3 -m pip install --user --break-system-packages --no-build-isolation "$source_dir"
check "import quorlib from the user's site" $python3 -c "import quorlib, sys; sys.exit(not quorlib.__file__.startswith('$HOME'))"
check "pip uninstall from the user's site" $python3 -m pip uninstall --break-system-packages -y quorlib
fails "nothing is left in the user's site" $python3 -c "import quorlib"

echo "$(( total - failures )) passed, $failures failed"
[ "$failures" -eq 0 ]
