#!/usr/bin/env bash
# Builds the example Windows Installer package around FinishSetup.exe with wixl (msitools):
#   examples/calendar-msi.sh OUT.msi FINISHSETUP_EXE CALENDAR_EXE
# SETTINGS_COMPANY: the company that ImInitial names (by default the package's, Example Soft).
# SOURCE_DATE_EPOCH: the time of the files and of the package (by default now). PACKAGE_SEED:
# what the package code is derived from, with every input of the package (release.sh gives the
# commit): the same commit and inputs give the same bytes, a package that differs another code.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: calendar-msi.sh OUT.msi FINISHSETUP_EXE CALENDAR_EXE" >&2; exit 2; }
out=$1
wxs="$(cd "$(dirname "$0")" && pwd)/calendar.wxs"
stage=$(mktemp -d /tmp/calendar-msi.XXXXXX)
trap 'rm -rf -- "$stage"' EXIT
cp -- "$wxs" "$stage/calendar.wxs"  # wixl finds each Source beside it
cp -- "$2" "$stage/FinishSetup.exe"
cp -- "$3" "$stage/calendar.exe"
printf '[SYS]\r\nApplicationName=Calendar\r\nCRCompany=%s\r\n' "${SETTINGS_COMPANY:-Example Soft}" \
    >"$stage/ImInitial"
epoch=${SOURCE_DATE_EPOCH:-$(date +%s)}
touch -d "@$epoch" "$stage/FinishSetup.exe" "$stage/calendar.exe" "$stage/ImInitial"
# wixl and msibuild write the package's creation and save times from the clock, held here.
clock=(env TZ=UTC faketime -f "$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')")
"${clock[@]}" wixl -a x86 -D Wixl=yes -o "$stage/calendar.msi" "$stage/calendar.wxs" \
    2>"$stage/wixl.log" || { cat "$stage/wixl.log" >&2; exit 1; }
# What calendar.wxs leaves to the build under wixl: the removal of the user's two links
# (RemoveFile, on removal: 2) and the two properties that name their folders as secure.
"${clock[@]}" msibuild "$stage/calendar.msi" \
    -q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`,
        \`InstallMode\`) VALUES ('StartupLink', 'Calendar', 'Calendar.lnk', 'USERSTARTUP', 2)" \
    -q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`,
        \`InstallMode\`) VALUES ('DesktopLink', 'Calendar', 'Calendar.lnk', 'USERDESKTOP', 2)" \
    -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`)
        VALUES ('SecureCustomProperties', 'USERSTARTUP;USERDESKTOP')"
code=$({ printf '%s\n' "${PACKAGE_SEED:-}"; cat "$wxs" "$stage/FinishSetup.exe" \
    "$stage/calendar.exe" "$stage/ImInitial"; } | sha256sum | tr a-f A-F)
"${clock[@]}" msibuild "$stage/calendar.msi" -s Calendar "Example Soft" "Intel;1033" \
    "{${code:0:8}-${code:8:4}-${code:12:4}-${code:16:4}-${code:20:12}}"
mv -f -- "$stage/calendar.msi" "$out"
