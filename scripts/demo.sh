#!/usr/bin/env bash
# The main job: sets itself up, builds, and shows what the stimulator receives for a few
# values (the device number format).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native --target quorval >/dev/null
echo "Device number text sent to the stimulator for some values:"
build/native/tools/quorval/quorval 0.025 0.0004 12345 -2.5 3999 1e-7 1e10 || true
