#!/usr/bin/env bash
# The test command: installs what is missing, builds all three builds (and the sanitizer
# builds of the native one) and runs every test. Windows tests run under Wine, each build
# in its own prefix inside its build tree.
#
#   scripts/test.sh                 everything
#   scripts/test.sh native win64    only the named builds (native native-asan native-tsan win64 win32
#                                   installer fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

# As many compile and test jobs as the machine has processors, unless the environment says.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

builds=("$@")
[ "${#builds[@]}" -gt 0 ] || builds=(native native-asan native-tsan win64 win32 installer fuzz)

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
    # ctest's summary lists them as "  12 - name (Skipped)".
    skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log" | tr '\n' ' ')
    rm -f "$log"
    if [ -n "$skipped" ]; then
        local count reason=""
        count=$(wc -w <<<"$skipped")
        [ "$preset" != win32 ] || reason="; ${runs_32bit}"
        notes+=("$preset: $count tests skipped: ${skipped% }${reason} (ctest --preset $preset -R NAME -V says why)")
    fi
}

run_installer() {
    # The release as a lab gets it: the installer made by the release script, installed,
    # used and removed under Wine on a clean prefix of its own, machine-wide and per user;
    # then the Windows Installer package, upgraded over an older one, used and removed.
    echo "=== installer: release, then install, session and uninstall under Wine"
    ./scripts/release.sh | tail -n 1
    local version
    version=$(sed -n 's/^project(QuorLib VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 --target quor_host_support quor_host_sim >/dev/null
    tests/installer/install-test.sh "dist/QuorLib-Setup-$version.exe" build/win64/host/native/tools/pulsyn-sim/pulsyn-sim \
        build/win64/host/support/libquor_modemshim64.so build/win64/host/support/libquor_modemshim32.so \
        build/installer-test
    # The same release as a Windows Installer package, through Wine's msiexec.
    tests/installer/msi-test.sh "dist/QuorLib-$version.msi" "dist/QuorLib-$version" \
        build/win64/host/native/tools/pulsyn-sim/pulsyn-sim build/msi-test
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
    stage_start=$SECONDS
    case "$b" in
        fuzz) run_fuzz ;;
        installer) run_installer ;;
        *) run_preset "$b" ;;
    esac
    echo "=== $b: done in $((SECONDS - stage_start)) s"
done
echo "=== all tests passed in $((SECONDS - start)) s"
for note in "${notes[@]}"; do echo "$note"; done
