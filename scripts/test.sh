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

# Work that runs beside a stage whose tests mostly wait: the Windows tests spend most of their
# time waiting for the simulated stimulator (held lines, replies that come late or never), so
# the 32-bit build compiles while the 64-bit tests run, and the installer and fuzz stages run
# while the 32-bit tests do (each Wine test run has a prefix, server and display of its own).
# Each runs in a process group of its own, so that a failure elsewhere ends all of it.
background_pids=()
background_logs=()
mkdir -p build
in_background() {  # name command...
    local name=$1 log=build/background-$1.log
    shift
    echo "=== $name: started beside the next stage (output in $log)"
    setsid "$@" >"$log" 2>&1 </dev/null &
    background_pids+=("$!")
    background_logs+=("$log")
}
await_background() {  # waits for every background job, shows its output, fails with it
    local i status
    for i in "${!background_pids[@]}"; do
        status=0
        wait "${background_pids[$i]}" || status=$?
        cat "${background_logs[$i]}"
        if [ "$status" != 0 ]; then background_pids=(); exit "$status"; fi
    done
    background_pids=()
    background_logs=()
}
end_background() {
    local pid
    for pid in "${background_pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
}
trap end_background EXIT
# Whether a stage is still to come after the current one.
remaining=()
wants() { local b; for b in "${remaining[@]}"; do [ "$b" != "$1" ] || return 0; done; return 1; }
# Whether work started beside an earlier stage is still under way.
in_progress() { [ "${#background_pids[@]}" -gt 0 ]; }

run_preset() {
    local preset=$1 log skipped
    echo "=== $preset: configure, build, test"
    if [ "$preset" = win32 ] && in_progress; then
        await_background
    else
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset"
    fi
    if [ "$preset" = win64 ] && wants win32; then
        in_background win32-build bash -c 'cmake --preset win32 >/dev/null && cmake --build --preset win32'
    fi
    if [ "$preset" = win32 ] && { wants installer || wants fuzz; }; then
        local rest=()
        wants installer && rest+=(installer)
        wants fuzz && rest+=(fuzz)
        in_background "$(IFS=-; echo "${rest[*]}")" ./scripts/test.sh "${rest[@]}"
    fi
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
for i in "${!builds[@]}"; do
    b=${builds[$i]}
    remaining=("${builds[@]:$((i + 1))}")
    stage_start=$SECONDS
    case "$b" in
        fuzz | installer) in_progress && continue ;;  # under way beside win32
    esac
    case "$b" in
        fuzz) run_fuzz ;;
        installer) run_installer ;;
        *) run_preset "$b" ;;
    esac
    echo "=== $b: done in $((SECONDS - stage_start)) s"
done
if in_progress; then
    echo "=== waiting for the stages that ran beside win32"
    await_background
fi
echo "=== all tests passed in $((SECONDS - start)) s"
for note in "${notes[@]}"; do echo "$note"; done
