#!/bin/sh
# Tells whether this machine runs 32-bit x86 programs: exit code 0 when it does, 1 when
# not, with one line saying why on standard output. Some kernels are built without 32-bit
# support; there every i386 program, the 32-bit Wine loader among them, ends with "Exec
# format error".
#
#   runs-32bit.sh <folder for the probe program>
#
# QUOR_NO_32BIT=1 forces the "cannot" answer, so the path taken on such a machine can be
# tried on any other.
set -u
dir=$1
if [ "${QUOR_NO_32BIT:-0}" = 1 ]; then
    echo "this machine cannot run 32-bit programs (QUOR_NO_32BIT=1)"
    exit 1
fi
probe="$dir/probe-i386"
if [ ! -x "$probe" ]; then
    mkdir -p "$dir"
    # Static, so that the answer is the kernel's alone, not whether 32-bit libraries exist.
    # Tests of one build run this at the same time: each builds its own copy and moves it
    # into place whole.
    if ! printf 'int main(void) { return 0; }\n' | cc -m32 -static -x c -o "$probe.$$" - 2>/dev/null; then
        rm -f "$probe.$$"
        echo "no 32-bit C compiler here (gcc-multilib), so 32-bit programs were not tried"
        exit 1
    fi
    mv -f "$probe.$$" "$probe"
fi
if error=$("$probe" 2>&1); then
    echo "this machine runs 32-bit programs"
    exit 0
fi
echo "this machine's kernel cannot run 32-bit programs (${error##*: })"
exit 1
