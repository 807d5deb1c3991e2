#!/usr/bin/env bash
# Builds a release into dist/ (or $DIST_DIR): the shipped PE32, FinishSetup.exe, built
# reproducibly; the example installer around it, calendar-setup.exe; and SHA256SUMS. With a key
# configured for scripts/sign.sh (SIGN_PKCS12, or SIGN_PKCS11_MODULE), the exe is signed before
# the installer takes it, and the installer and its uninstaller are signed as makensis writes
# them. The signing time is SOURCE_DATE_EPOCH, by default the last commit's time, so that the
# same commit and key give the same bytes.
set -euo pipefail
for variable in SIGN_PKCS12 SIGN_PKCS11_MODULE SIGN_CERT DIST_DIR; do  # from where it was run
    [ -z "${!variable:-}" ] || export "$variable=$(realpath -m "${!variable}")"
done
cd "$(dirname "$0")/.."
dist=${DIST_DIR:-$PWD/dist}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
signing=()
[ -z "${SIGN_PKCS12:-}${SIGN_PKCS11_MODULE:-}" ] || signing=(-DSIGN -DSIGN_SCRIPT="$PWD/scripts/sign.sh")

cmake --preset win32 >/dev/null
cmake --build --preset win32 >/dev/null
rm -rf "$dist"
mkdir -p "$dist"
cp build/win32/FinishSetup.exe "$dist/"
[ ${#signing[@]} -eq 0 ] || bash scripts/sign.sh "$dist/FinishSetup.exe"

# The example's calendar.exe is a stand-in: the installer is the example installer authors
# start from, around the exe as it ships.
stand_in=$(mktemp)
trap 'rm -f "$stand_in"' EXIT
echo "a stand-in for the calendar application" >"$stand_in"
# The installer keeps each file's time: the commit's, so that it is rebuilt byte for byte.
touch -d "@$SOURCE_DATE_EPOCH" "$stand_in" "$dist/FinishSetup.exe"
makensis -V2 "${signing[@]}" -DFINISHSETUP_EXE="$dist/FinishSetup.exe" -DCALENDAR_EXE="$stand_in" \
    -DOUTFILE="$dist/calendar-setup.exe" examples/calendar.nsi
(cd "$dist" && sha256sum FinishSetup.exe calendar-setup.exe >SHA256SUMS)
echo "$dist: $(cd "$dist" && ls -l FinishSetup.exe calendar-setup.exe SHA256SUMS |
    awk '{printf "%s %s bytes; ", $9, $5}')$([ ${#signing[@]} -gt 0 ] && echo signed || echo unsigned)"
