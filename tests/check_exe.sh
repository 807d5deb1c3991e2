#!/usr/bin/env bash
# Checks a built FinishSetup.exe: its PE kind and GUI subsystem; imports from system DLLs only
# (never a mingw runtime DLL); the entry point at ProgramEntry; the asInvoker manifest with its
# supportedOS entries; version strings free of the words that make Windows guess an
# installer; ASLR and DEP on; and, when given, a size budget.
set -euo pipefail
exe=$1 kind=$2 objdump=$3 budget=${4:-}
fail() { echo "$exe: $*"; exit 1; }

description=$(file -b "$exe")
[[ "$description" == "$kind"*"(GUI)"* ]] || fail "unexpected kind: $description"

allowed='^(KERNEL32|USER32|ADVAPI32|SHELL32|ole32|msvcrt)\.dll$'
while read -r dll; do
    [[ "$dll" =~ $allowed ]] || fail "unexpected import: $dll"
done < <("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')

headers=$("$objdump" -p "$exe")
entry=$(sed -n 's/^AddressOfEntryPoint\s*//p' <<<"$headers")
base=$(sed -n 's/^ImageBase\s*//p' <<<"$headers")
symbol=$(sed -n 's/^\s*0x0*\([0-9a-f]*\)\s*_\?ProgramEntry$/\1/p' "$(dirname "$exe")/FinishSetup.map")
[ -n "$symbol" ] && [ $((16#$entry + 16#$base)) -eq $((16#$symbol)) ] ||
    fail "entry point $entry is not ProgramEntry ($symbol)"
characteristics=$((16#$(sed -n 's/^DllCharacteristics\s*//p' <<<"$headers")))
(( characteristics & 0x40 && characteristics & 0x100 )) || fail "ASLR or DEP is off"

manifest=$(strings -n 8 "$exe")
grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" || fail "no asInvoker manifest"
[ "$(grep -c '<supportedOS Id=' <<<"$manifest")" = 5 ] || fail "supportedOS entries missing"
version=$(strings -el "$exe")
grep -q 'FileDescription' <<<"$version" || fail "no version resource"
if grep -iE 'install|setup|update|patch' <<<"$version"; then fail "version strings as above"; fi

size=$(stat -c %s "$exe")
[ -z "$budget" ] || [ "$size" -le "$budget" ] || fail "$size bytes, over the budget of $budget"
echo "$exe: $description, $size bytes"
