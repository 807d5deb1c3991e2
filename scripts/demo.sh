#!/usr/bin/env bash
# The main job: builds the program and runs it under wine64 on a sample installation.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
exec python3 scripts/demo.py
