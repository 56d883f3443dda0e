#!/usr/bin/env bash
# Takes docs/monitor.png, the picture of the monitor window in the README: the window with a
# short session in it, drawn by Wine in a virtual desktop (so with its title bar and frame)
# on a virtual display.
#
#   scripts/monitor-screenshot.sh [build tree, default build/win64]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/win64}")
prefix=$build/wineprefix

cmake --build "$build" --target monitor_shot
shot=$(find "$build" -name monitor_shot.exe | head -n 1)
work=$(mktemp -d)
trap 'cmake/wine.sh stop "$prefix"; rm -rf "$work"' EXIT

cmake/wine.sh start "$prefix"
bmp=$work/monitor.bmp
cmake/wine.sh run "$prefix" /usr/lib/wine/wine64 explorer /desktop=QuorLib,560x480 \
    "$shot" "Z:$(printf '%s' "$bmp" | tr / '\\')" </dev/null >/dev/null 2>&1 &
for _ in $(seq 1 300); do
    [ -s "$bmp" ] && break
    sleep 0.1
done
sleep 0.5  # the file is complete once the program has closed it
[ -s "$bmp" ] || { echo "monitor-screenshot: no picture was taken" >&2; exit 1; }

mkdir -p docs
python3 - "$bmp" docs/monitor.png <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
offset, = struct.unpack_from('<I', data, 10)
width, height, _, bits = struct.unpack_from('<iiHH', data, 18)
assert bits == 24, bits
stride = (width * 3 + 3) // 4 * 4
rows = []
for y in range(abs(height)):
    src = height - 1 - y if height > 0 else y
    row = data[offset + src * stride: offset + src * stride + width * 3]
    rgb = bytearray(len(row))
    rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
    rows.append(b'\0' + bytes(rgb))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, abs(height), 8, 2, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
PY
echo "monitor-screenshot: docs/monitor.png written"
