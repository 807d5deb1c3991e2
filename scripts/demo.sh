#!/usr/bin/env bash
# The main job: builds the program and runs the shipped PE32 under a 32-bit Wine on a sample
# installation (the x64 build under wine64 where no 32-bit Wine starts).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --optional wine32:i386  # without it: the x64 build under wine64
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
exec python3 scripts/demo.py
