#!/usr/bin/env bash
# Signs each PE file given in place: Authenticode, SHA-256, with osslsigncode.
#   scripts/sign.sh [--] FILE...
# The key, either
#   SIGN_PKCS11_MODULE, SIGN_KEY, SIGN_CERT, SIGN_PIN
#                                          a key on a token or a cloud HSM, reached through its
#                                          PKCS#11 module and named by a PKCS#11 URI; the
#                                          certificate with its chain (PEM, leaf first, or one
#                                          DER certificate); the token's PIN (without it, the
#                                          token asks for it where there is a terminal);
#   SIGN_PKCS12, SIGN_PASSWORD            or a PKCS#12 file with the certificate, its chain and
#                                          the key (for a test key).
# Optional: SIGN_TIMESTAMP_URL, an RFC 3161 time-stamp server; SIGN_DESCRIPTION and SIGN_URL,
# the program's description and web page in the signature; SOURCE_DATE_EPOCH, the signing
# time, so that signing the same file twice gives the same bytes (with an RSA key and no
# time stamp).
#
# The PIN and the password reach openssl and osslsigncode through a pipe (-readpass /dev/fd/3),
# never an argument, where every local user could read them, nor a file, which a killed run
# would leave behind. Everything is checked before any file is signed: the files (regular
# files, not links), the key, and the leaf certificate (for code signing, not a CA's, valid
# today). Each file is signed into a temporary copy beside it, and the copies replace the
# files only when all are signed: a file is never half-written, and an interrupted run leaves
# no copy and no osslsigncode running (one killed outright leaves its copy's folder, which
# blocks no later run).
set -euo pipefail

die() {
    echo "sign.sh: $*" >&2
    exit 1
}

[ "${1:-}" != -- ] || shift
[ $# -gt 0 ] || die "usage: sign.sh [--] FILE..."
command -v osslsigncode >/dev/null || die "osslsigncode is missing (Debian: osslsigncode)"
secret=
export -n SIGN_PIN SIGN_PASSWORD  # no child inherits them
description="${SIGN_DESCRIPTION:-FinishSetup, the set-up of a calendar application}"
url="${SIGN_URL:-https://www.example.com/calendar}"
work=$(mktemp -d)
copies=()
child=
cleanup() {
    [ -z "$child" ] || kill "$child" 2>/dev/null || true
    rm -rf -- "${copies[@]}"
    rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

for file in "$@"; do
    [ ! -L "$file" ] || die "$file is a symbolic link (to $(readlink -- "$file")): give the file itself"
    [ -f "$file" ] || die "no file $file"
    [ -w "$(dirname -- "$file")" ] || die "cannot write in the folder of $file"
done
[[ "${SOURCE_DATE_EPOCH:-0}" =~ ^[0-9]+$ ]] ||
    die "SOURCE_DATE_EPOCH must be a whole number of seconds since 1970, not $SOURCE_DATE_EPOCH"

# Runs a command with the secret readable at /dev/fd/3 (printf is the shell's own: no process
# holds the secret in its arguments).
with_secret() {
    "$@" 3< <(printf '%s' "$secret")
}

if [ -n "${SIGN_PKCS12:-}" ]; then
    [ -r "$SIGN_PKCS12" ] || die "cannot read the PKCS#12 file $SIGN_PKCS12"
    secret=${SIGN_PASSWORD-}
    # The password and the file are tried here, so that a wrong one is named as such.
    with_secret openssl pkcs12 -in "$SIGN_PKCS12" -passin fd:3 -nokeys -clcerts \
        -out "$work/leaf.pem" 2>/dev/null ||
        with_secret openssl pkcs12 -legacy -in "$SIGN_PKCS12" -passin fd:3 -nokeys -clcerts \
            -out "$work/leaf.pem" 2>/dev/null ||
        die "cannot open $SIGN_PKCS12: the password is wrong, or it is no PKCS#12 file"
    key=(-pkcs12 "$SIGN_PKCS12" -readpass /dev/fd/3)
elif [ -n "${SIGN_PKCS11_MODULE:-}" ]; then
    [ -r "$SIGN_PKCS11_MODULE" ] || die "cannot read the PKCS#11 module $SIGN_PKCS11_MODULE"
    [[ "${SIGN_KEY:-}" == pkcs11:* ]] || die "SIGN_KEY must name the key as a PKCS#11 URI"
    [[ "${SIGN_KEY,,}" != *pin-value=* ]] ||
        die "SIGN_KEY holds the PIN, which every local user could read in a command line:" \
            "take pin-value out of the URI and set SIGN_PIN"
    [ -r "${SIGN_CERT:-}" ] || die "cannot read the certificate SIGN_CERT (${SIGN_CERT:-unset})"
    # All the certificates, leaf first, go into the signature: Windows needs the intermediate.
    { openssl crl2pkcs7 -nocrl -certfile "$SIGN_CERT" 2>/dev/null |
        openssl pkcs7 -print_certs -out "$work/chain.pem" 2>/dev/null &&
        grep -q 'BEGIN CERTIFICATE' "$work/chain.pem"; } ||
        openssl x509 -inform DER -in "$SIGN_CERT" -out "$work/chain.pem" 2>/dev/null ||
        die "$SIGN_CERT holds no certificate"
    openssl x509 -in "$work/chain.pem" -out "$work/leaf.pem"
    key=(-pkcs11module "$SIGN_PKCS11_MODULE" -key "$SIGN_KEY" -certs "$work/chain.pem")
    [ -z "${SIGN_PIN+set}" ] || key+=(-readpass /dev/fd/3)
    secret=${SIGN_PIN-}
else
    die "no key: set SIGN_PKCS11_MODULE, SIGN_KEY, SIGN_CERT and SIGN_PIN (a token)," \
        "or SIGN_PKCS12 and SIGN_PASSWORD"
fi

# The leaf: what Windows checks of the certificate the signature names.
leaf() { openssl x509 -in "$work/leaf.pem" -noout "$@" 2>/dev/null; }
leaf -ext extendedKeyUsage | grep -q "Code Signing" ||
    die "the certificate is not for code signing (its extendedKeyUsage lacks codeSigning)"
! leaf -ext basicConstraints | grep -q "CA:TRUE" ||
    die "the certificate is a CA's (basicConstraints CA:TRUE), not one to sign code with"
usage=$(leaf -ext keyUsage)
[ -z "$usage" ] || grep -q "Digital Signature" <<<"$usage" ||
    die "the certificate's keyUsage lacks digitalSignature"
not_before=$(leaf -startdate | cut -d= -f2)
[ "$(date -d "$not_before" +%s)" -le "$(date +%s)" ] ||
    die "the certificate is not valid yet: not before $not_before"
leaf -checkend 0 >/dev/null || die "the certificate has expired: $(leaf -enddate | cut -d= -f2)"

options=(-h sha256 -n "$description" -i "$url")
[ -z "${SOURCE_DATE_EPOCH:-}" ] || options+=(-time "$SOURCE_DATE_EPOCH")
[ -z "${SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$SIGN_TIMESTAMP_URL")

# Why osslsigncode failed: its own first line, and the first reason in OpenSSL's errors.
failure() {
    local first reason
    first=$(grep -v -e '^$' -e '^Engine ".*" set\.$' "$work/log" | head -n 1)
    reason=$(awk -F: '$2 == "error" { print $6; exit }' "$work/log")
    case "$reason" in
    "PIN incorrect") echo "the PIN is wrong ($first)" ;;
    "key values mismatch") echo "the certificate does not match the key" ;;
    *) echo "$first${reason:+ ($reason)}" ;;
    esac
}

files=("$@")
for file in "${files[@]}"; do
    # osslsigncode makes its output file itself: it goes into a folder of its own.
    copy=$(mktemp -d -- "$(dirname -- "$file")/.$(basename -- "$file").signing.XXXXXX") ||
        die "cannot write in the folder of $file"
    copies+=("$copy")
    copy+=/signed
    # In the background, so that a signal stops it with this script.
    osslsigncode sign "${key[@]}" "${options[@]}" -in "$file" -out "$copy" \
        3< <(printf '%s' "$secret") >"$work/log" 2>&1 &
    child=$!
    wait "$child" || die "signing $file failed: $(failure)"
    child=
    chmod --reference="$file" -- "$copy"
done
for i in "${!files[@]}"; do
    mv -f -- "${copies[i]}/signed" "${files[i]}"
    echo "signed ${files[i]}"
done
rm -rf -- "${copies[@]}"
copies=()
