#!/usr/bin/env bash
# Signs each PE file given in place: Authenticode, SHA-256, with osslsigncode.
#   scripts/sign.sh FILE...
# The key, either
#   SIGN_PKCS12, SIGN_PASSWORD            a PKCS#12 file with the certificate and the key;
#   SIGN_PKCS11_MODULE, SIGN_KEY, SIGN_CERT
#                                          a key on a token or a cloud HSM, reached through its
#                                          PKCS#11 module, named by a PKCS#11 URI, and its
#                                          certificate (PEM or DER).
# Optional: SIGN_TIMESTAMP_URL, an RFC 3161 time-stamp server; SIGN_DESCRIPTION and SIGN_URL,
# the program's description and web page in the signature; SOURCE_DATE_EPOCH, the signing
# time, so that signing the same file twice gives the same bytes (with an RSA key and no
# time stamp).
# A key that is missing or cannot be read, a wrong password or PIN, or a certificate without
# the code-signing purpose is refused, and no file is changed. Each file is signed into a
# temporary file beside it, which then replaces it: a file is never left half-written.
set -euo pipefail

die() {
    echo "sign.sh: $*" >&2
    exit 1
}

[ $# -gt 0 ] || die "usage: sign.sh FILE..."
command -v osslsigncode >/dev/null || die "osslsigncode is missing (Debian: osslsigncode)"
description="${SIGN_DESCRIPTION:-FinishSetup, the set-up of a calendar application}"
url="${SIGN_URL:-https://www.example.com/calendar}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -n "${SIGN_PKCS12:-}" ]; then
    [ -r "$SIGN_PKCS12" ] || die "cannot read the PKCS#12 file $SIGN_PKCS12"
    printf '%s' "${SIGN_PASSWORD:-}" >"$work/password"
    # The password and the file are tried here, so that a wrong one is named as such.
    openssl pkcs12 -in "$SIGN_PKCS12" -passin "file:$work/password" -nokeys -clcerts \
        -out "$work/certificate.pem" 2>/dev/null ||
        openssl pkcs12 -legacy -in "$SIGN_PKCS12" -passin "file:$work/password" -nokeys \
            -clcerts -out "$work/certificate.pem" 2>/dev/null ||
        die "cannot open $SIGN_PKCS12: the password is wrong, or it is no PKCS#12 file"
    key=(-pkcs12 "$SIGN_PKCS12" -readpass "$work/password")
elif [ -n "${SIGN_PKCS11_MODULE:-}" ]; then
    [ -r "$SIGN_PKCS11_MODULE" ] || die "cannot read the PKCS#11 module $SIGN_PKCS11_MODULE"
    [[ "${SIGN_KEY:-}" == pkcs11:* ]] || die "SIGN_KEY must name the key as a PKCS#11 URI"
    [ -r "${SIGN_CERT:-}" ] || die "cannot read the certificate SIGN_CERT (${SIGN_CERT:-unset})"
    openssl x509 -in "$SIGN_CERT" -out "$work/certificate.pem" 2>/dev/null ||
        openssl x509 -inform DER -in "$SIGN_CERT" -out "$work/certificate.pem" 2>/dev/null ||
        die "$SIGN_CERT holds no certificate"
    key=(-pkcs11module "$SIGN_PKCS11_MODULE" -key "$SIGN_KEY" -certs "$work/certificate.pem")
else
    die "no key: set SIGN_PKCS12 and SIGN_PASSWORD, or SIGN_PKCS11_MODULE, SIGN_KEY and SIGN_CERT"
fi

openssl x509 -in "$work/certificate.pem" -noout -ext extendedKeyUsage 2>/dev/null |
    grep -q "Code Signing" ||
    die "the certificate is not for code signing (its extendedKeyUsage lacks codeSigning)"

options=(-h sha256 -n "$description" -i "$url")
[ -z "${SOURCE_DATE_EPOCH:-}" ] || options+=(-time "$SOURCE_DATE_EPOCH")
[ -z "${SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$SIGN_TIMESTAMP_URL")

for file in "$@"; do
    [ -f "$file" ] || die "no file $file"
    signed="$(dirname "$file")/.$(basename "$file").signing"
    if ! osslsigncode sign "${key[@]}" "${options[@]}" -in "$file" -out "$signed" \
        >"$work/log" 2>&1; then
        rm -f "$signed"
        die "signing $file failed: $(grep -v '^$' "$work/log" | tail -n 1)"
    fi
    chmod --reference="$file" "$signed"
    mv -f "$signed" "$file"
    echo "signed $file"
done
