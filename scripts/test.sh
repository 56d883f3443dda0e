#!/usr/bin/env bash
# The test command: installs what is missing, builds all three builds (and the sanitizer
# builds of the native one) and runs every test. Windows tests run under Wine, each build
# in its own prefix inside its build tree.
#
#   scripts/test.sh                 everything
#   scripts/test.sh native win64    only the named builds (native native-asan native-tsan win64 win32 fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

# As many compile and test jobs as the machine has processors, unless the environment says.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

builds=("$@")
[ "${#builds[@]}" -gt 0 ] || builds=(native native-asan native-tsan win64 win32 fuzz)

# Whether the 32-bit Windows tests can run: the 32-bit Wine loader is an i386 program, and
# some kernels cannot run those at all (QUOR_NO_32BIT=1 forces that answer).
runs_32bit=$(cmake/runs-32bit.sh build/probe) || true
echo "=== 32-bit programs: $runs_32bit"

notes=()
run_preset() {
    local preset=$1 log skipped
    echo "=== $preset: configure, build, test"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    log=$(mktemp)
    if ! ctest --preset "$preset" | tee "$log"; then rm -f "$log"; exit 1; fi
    skipped=$(grep -c '(Skipped)$' "$log" || true)
    rm -f "$log"
    if [ "$skipped" -gt 0 ]; then
        notes+=("$preset: $skipped tests skipped: ${runs_32bit}")
    fi
}

run_fuzz() {
    # libFuzzer needs clang; the fuzz target runs for a bounded time and must not crash.
    # The whole tree is instrumented, so the fuzzer sees coverage inside the readers.
    if ! command -v clang++ >/dev/null; then
        echo "=== fuzz: clang++ not found, skipped"
        return
    fi
    echo "=== fuzz: device number readers, 20 s"
    cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOR_FUZZ=ON -DQUOR_BUILD_TESTS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
          -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
    cmake --build build/fuzz --target value_fuzz
    mkdir -p build/fuzz/corpus
    build/fuzz/tests/value/value_fuzz -max_total_time=20 -max_len=64 -timeout=5 build/fuzz/corpus 2>&1 | tail -n 3
}

start=$SECONDS
for b in "${builds[@]}"; do
    case "$b" in
        fuzz) run_fuzz ;;
        *) run_preset "$b" ;;
    esac
done
echo "=== all tests passed in $((SECONDS - start)) s"
for note in "${notes[@]}"; do echo "$note"; done
