#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the three presets, runs every test
# (unit tests on the simulated platform, the exe checks, and the end-to-end runs under wine64).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in native win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
ctest --preset native
