#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the presets, and runs every test:
# the unit tests on the simulated platform, the exe checks (imports, manifest, version
# resource, size, reproducibility), static analysis and the end-to-end runs under wine64;
# then the unit tests again under ASan and UBSan, and a 60-second libFuzzer run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in native win32 win64 sanitize; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
ctest --preset sanitize
ctest --preset native
