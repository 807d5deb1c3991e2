#!/usr/bin/env bash
# Checks a built FinishSetup.exe: the expected PE kind, GUI subsystem, and imports from system
# DLLs only (never a mingw runtime DLL such as libgcc_s or libstdc++).
set -euo pipefail
exe=$1 kind=$2 objdump=$3
description=$(file -b "$exe")
case "$description" in
    "$kind"*"(GUI)"*) ;;
    *) echo "unexpected kind: $description"; exit 1 ;;
esac
allowed='^(KERNEL32|USER32|ADVAPI32|SHELL32|ole32|msvcrt)\.dll$'
bad=0
while read -r dll; do
    if ! [[ "$dll" =~ $allowed ]]; then echo "unexpected import: $dll"; bad=1; fi
done < <("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
[ "$bad" = 0 ] && echo "$exe: $description, $(stat -c %s "$exe") bytes"
exit "$bad"
