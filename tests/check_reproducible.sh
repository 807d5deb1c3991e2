#!/usr/bin/env bash
# Builds the shipped exe twice more, from the same sources in two other directories, and
# requires both to match build/win32/FinishSetup.exe byte for byte: no link timestamp, no
# build paths, no dates.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for copy in a b; do
    cmake --preset win32 -S "$source_dir" -B "$scratch/build-$copy" >/dev/null
    cmake --build "$scratch/build-$copy" --target FinishSetup >/dev/null
    cmp "$source_dir/build/win32/FinishSetup.exe" "$scratch/build-$copy/FinishSetup.exe"
done
echo "reproducible: $(sha256sum < "$source_dir/build/win32/FinishSetup.exe" | cut -c1-16)..."
