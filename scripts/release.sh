#!/usr/bin/env bash
# Builds a release into dist/ (or $DIST_DIR, a new or empty folder): the shipped PE32,
# FinishSetup.exe, built reproducibly; the example installer around it, calendar-setup.exe;
# the example Windows Installer package, calendar.msi; and SHA256SUMS. With a key configured
# for scripts/sign.sh (SIGN_PKCS11_MODULE, or SIGN_PKCS12), the exe is signed before the
# installer and the package take it, the installer and its uninstaller are signed as makensis
# writes them, and the package once built. The signing time is SOURCE_DATE_EPOCH, by
# default the commit's time, so that the same commit and key give the same bytes. A checkout
# with uncommitted changes is refused unless ALLOW_DIRTY=1.
set -euo pipefail
die() {
    echo "release.sh: $*" >&2
    exit 1
}
for variable in SIGN_PKCS12 SIGN_PKCS11_MODULE SIGN_CERT DIST_DIR; do  # from where it was run
    [ -z "${!variable:-}" ] || export "$variable=$(realpath -m -- "${!variable}")"
done
cd "$(dirname "$0")/.."
dist=${DIST_DIR:-$PWD/dist}
own=(FinishSetup.exe calendar-setup.exe calendar.msi SHA256SUMS)

# Which commit the release is, checked before anything is built or signed.
if sha=$(git rev-parse --verify HEAD 2>/dev/null); then
    commit="commit $sha"
    if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
        [ "${ALLOW_DIRTY:-}" = 1 ] ||
            die "the checkout has uncommitted changes: commit them, or set ALLOW_DIRTY=1"
        commit+=" with uncommitted changes"
    fi
    export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
else
    [ "${ALLOW_DIRTY:-}" = 1 ] && [ -n "${SOURCE_DATE_EPOCH:-}" ] ||
        die "not a git checkout: no commit to name; set ALLOW_DIRTY=1 and SOURCE_DATE_EPOCH"
    commit="no commit (not a git checkout)"
fi
[[ "$SOURCE_DATE_EPOCH" =~ ^[0-9]+$ ]] ||
    die "SOURCE_DATE_EPOCH must be a whole number of seconds since 1970, not $SOURCE_DATE_EPOCH"
if [ -e "$dist" ] || [ -L "$dist" ]; then
    [ -d "$dist" ] && [ ! -L "$dist" ] || die "$dist is not a folder"
    names=()
    for file in "${own[@]}"; do names+=(-o -name "$file"); done
    other=$(find "$dist" -mindepth 1 -maxdepth 1 \( ! -type f -o ! \( "${names[@]:1}" \) \) \
        -printf '%f\n' | head -n 1)
    [ -z "$other" ] || die "$dist holds $other: the release goes into a new or empty folder"
fi
signing=()
if [ -n "${SIGN_PKCS12:-}${SIGN_PKCS11_MODULE:-}" ]; then
    signing=(-DSIGN)
    [ -n "${SIGN_DESCRIPTION:-}" ] && [ -n "${SIGN_URL:-}" ] ||
        echo "release.sh: SIGN_DESCRIPTION and SIGN_URL are left at the example values;" \
            "a real release sets the publisher's own (Windows shows them when it asks" \
            "to run the installer)" >&2
fi

# makensis hands its output path to a shell in !finalize, so everything it is given lies in a
# folder whose path is plain characters, whatever the checkout's or DIST_DIR's.
stage=$(mktemp -d /tmp/finishsetup-release.XXXXXX)
trap 'rm -rf -- "$stage"' EXIT
no_secrets=()  # the build sees none of the signing variables
for variable in $(compgen -e -X '!SIGN_*'); do no_secrets+=(-u "$variable"); done
env "${no_secrets[@]}" cmake --preset win32 >/dev/null
env "${no_secrets[@]}" cmake --build --preset win32 >/dev/null
cp build/win32/FinishSetup.exe scripts/sign.sh "$stage/"
[ ${#signing[@]} -eq 0 ] || bash scripts/sign.sh "$stage/FinishSetup.exe"

# The example's calendar.exe is a stand-in: the installer is the example installer authors
# start from, around the exe as it ships.
echo "a stand-in for the calendar application" >"$stage/calendar.exe"
# The installer keeps each file's time: the commit's, so that it is rebuilt byte for byte.
touch -d "@$SOURCE_DATE_EPOCH" "$stage/calendar.exe" "$stage/FinishSetup.exe"
makensis -V2 "${signing[@]}" -DSIGN_SCRIPT="$stage/sign.sh" \
    -DFINISHSETUP_EXE="$stage/FinishSetup.exe" -DCALENDAR_EXE="$stage/calendar.exe" \
    -DOUTFILE="$stage/calendar-setup.exe" examples/calendar.nsi
# The package's code is derived from the commit and its inputs, its times are the commit's.
PACKAGE_SEED="$commit" bash examples/calendar-msi.sh "$stage/calendar.msi" \
    "$stage/FinishSetup.exe" "$stage/calendar.exe"
[ ${#signing[@]} -eq 0 ] || bash scripts/sign.sh "$stage/calendar.msi"
(cd "$stage" && sha256sum FinishSetup.exe calendar-setup.exe calendar.msi >SHA256SUMS)
mkdir -p -- "$dist"
for file in "${own[@]}"; do mv -f -- "$stage/$file" "$dist/$file"; done
echo "$dist: $(cd "$dist" && ls -l -- "${own[@]}" | awk '{printf "%s %s bytes; ", $9, $5}')$(
    [ ${#signing[@]} -gt 0 ] && echo signed || echo unsigned); $commit"
