#!/usr/bin/env bash
# Regenerates src/server/QuorLib.tlb from src/server/QuorLib.idl. Both DLLs embed that one
# committed file, so the 64-bit and the 32-bit build carry the same type library.
set -euo pipefail
cd "$(dirname "$0")/.."
/usr/lib/wine/widl --win32 -I/usr/include/wine/wine/windows -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows \
    -t -o src/server/QuorLib.tlb src/server/QuorLib.idl
echo "src/server/QuorLib.tlb regenerated; commit it with the description."
