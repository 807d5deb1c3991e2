#!/usr/bin/env bash
# Signing and the release, with a throwaway CA and code-signing certificate made here (never a
# key in the repository): scripts/sign.sh with a PKCS#12 file and with a key in a SoftHSM
# token; the same signing time giving the same bytes; a wrong password and a certificate not
# for code signing refused with the file left as it was; scripts/release.sh signing the exe,
# the installer and the uninstaller it installs (under Wine), and the signed exe's typical run.
# Needs the win32 build (e2e.exe beside FinishSetup.exe).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sign="$root/scripts/sign.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() {
    echo "FAILED: $*"
    exit 1
}

# A CA; a code-signing certificate from it; and one for servers only.
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=FinishSetup Test CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
for kind in codeSigning serverAuth; do
    openssl req -newkey rsa:2048 -nodes -keyout "$kind.key" -out "$kind.csr" \
        -subj "/CN=FinishSetup Test $kind" 2>/dev/null
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
        "$kind" >"$kind.ext"
    openssl x509 -req -in "$kind.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile "$kind.ext" -out "$kind.pem" 2>/dev/null
    openssl pkcs12 -export -inkey "$kind.key" -in "$kind.pem" -certfile ca.pem -out "$kind.p12" \
        -passout pass:secret
done

# The code-signing key in a SoftHSM token, as a real one lives on a token or in an HSM.
export SOFTHSM2_CONF="$work/softhsm2.conf"
mkdir tokens
echo "directories.tokendir = $work/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label release --pin 1234 --so-pin 5678 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in codeSigning.key -out codeSigning.p8
softhsm2-util --import codeSigning.p8 --token release --label sign --id 01 --pin 1234 >/dev/null
module=$(find /usr/lib -name libsofthsm2.so | head -n 1)

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(date +%s)
exe="$root/build/win32/FinishSetup.exe"
verify() { osslsigncode verify -CAfile ca.pem -in "$1" >"$1.verify" 2>&1 || fail "$1: $(tail -n 3 "$1.verify")"; }
with_p12() { SIGN_PKCS12="$1.p12" SIGN_PASSWORD="$2" bash "$sign" "${@:3}"; }

cp "$exe" p12.exe
cp "$exe" p12-again.exe
with_p12 codeSigning secret p12.exe p12-again.exe >/dev/null
verify p12.exe
cmp -s p12.exe p12-again.exe || fail "two signings at the same SOURCE_DATE_EPOCH differ"
cp "$exe" token.exe
SIGN_PKCS11_MODULE="$module" SIGN_KEY="pkcs11:token=release;object=sign;type=private;pin-value=1234" \
    SIGN_CERT=codeSigning.pem bash "$sign" token.exe >/dev/null
verify token.exe

# Refused, the file as it was.
refused() {
    local expected=$1
    shift
    cp "$exe" refused.exe
    if "$@" refused.exe >refused.log 2>&1; then fail "signed: $*"; fi
    grep -q "$expected" refused.log || fail "not said: $expected: $(cat refused.log)"
    cmp -s "$exe" refused.exe || fail "refused.exe changed by: $*"
}
refused "the password is wrong" with_p12 codeSigning wrong
refused "not for code signing" with_p12 serverAuth secret
refused "cannot read the PKCS#12 file" with_p12 missing secret
refused "no key" bash "$sign"
refused "signing refused.exe failed" env SIGN_PKCS11_MODULE="$module" \
    SIGN_KEY="pkcs11:token=release;object=sign;type=private;pin-value=0000" \
    SIGN_CERT=codeSigning.pem bash "$sign"

# The release: signed exe, signed installer with a signed uninstaller, checksums.
for dist in dist dist-again; do
    DIST_DIR="$work/$dist" SIGN_PKCS12=codeSigning.p12 SIGN_PASSWORD=secret \
        bash "$root/scripts/release.sh" >release.log 2>&1 || fail "release.sh: $(tail -n 5 release.log)"
done
diff -r dist dist-again >/dev/null || fail "two signed releases of the same commit differ"
verify dist/FinishSetup.exe
verify dist/calendar-setup.exe
(cd dist && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match dist/"
python3 "$root/tests/wine/release_check.py" "$root/build/win32" dist/calendar-setup.exe \
    dist/FinishSetup.exe "$work/Uninstall.exe" || fail "the release under Wine"
verify Uninstall.exe
echo "release: exe signed from a PKCS#12 file and from a token, reproducibly; refusals leave the" \
    "file; the signed release rebuilt byte for byte; installer, its uninstaller and the exe" \
    "verify; the signed exe runs the typical case"
