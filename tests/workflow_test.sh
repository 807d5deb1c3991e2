#!/usr/bin/env bash
# .github/workflows/windows.yml against GitHub's workflow schema, with action-validator from
# the npm registry, installed once into the build tree.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tools="$root/build/tools"
validator="$tools/node_modules/.bin/action-validator"
if [ ! -x "$validator" ]; then
    command -v npm >/dev/null || { echo "npm is missing: cannot fetch action-validator"; exit 1; }
    npm install --no-audit --no-fund --prefix "$tools" @action-validator/cli@0.6.0 >/dev/null
fi
"$validator" "$root/.github/workflows/windows.yml"
echo "windows.yml: valid"
