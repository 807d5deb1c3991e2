#!/usr/bin/env bash
# Signing and the release, with a throwaway root, an intermediate and leaves from it made here
# (never a key in the repository): scripts/sign.sh with a PKCS#12 file and with a key in a
# SoftHSM token, each signature verified against the root alone; no secret in any process's
# arguments; the same signing time giving the same bytes; refusals (each named) leaving the
# file as it was; an interrupted signing leaving nothing; scripts/release.sh into a folder
# whose name holds shell code, twice, byte for byte, its installer, uninstaller, package and
# exe verified and run under Wine. Needs the win32 build (e2e.exe beside FinishSetup.exe).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sign="$root/scripts/sign.sh"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
fail() {
    echo "FAILED: $*"
    exit 1
}

# The root and the intermediate; the leaves, issued by the intermediate as public CAs do.
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 \
    -subj "/CN=FinishSetup Test Root" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout intermediate.key -out intermediate.csr \
    -subj "/CN=FinishSetup Test Intermediate" 2>/dev/null
printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n' >ca.ext
openssl x509 -req -in intermediate.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 \
    -extfile ca.ext -out intermediate.pem 2>/dev/null
printf '[ca]\ndefault_ca=i\n[i]\ndatabase=index.txt\nserial=serial\nnew_certs_dir=.\n%s\n' \
    'default_md=sha256
policy=any
unique_subject=no
[any]
commonName=supplied' >ca.cnf
touch index.txt
echo 01 >serial
issue() {  # name key first-day last-day extendedKeyUsage [basicConstraints]
    [ -f "$2.key" ] || openssl genrsa -out "$2.key" 2048 2>/dev/null
    openssl req -new -key "$2.key" -out "$1.csr" -subj "/CN=FinishSetup Test $1"
    printf 'basicConstraints=%s\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
        "${6:-CA:FALSE}" "$5" >"$1.ext"
    openssl ca -batch -config ca.cnf -notext -cert intermediate.pem -keyfile intermediate.key \
        -startdate "$(date -u -d "$3 days" +%y%m%d%H%M%SZ)" \
        -enddate "$(date -u -d "$4 days" +%y%m%d%H%M%SZ)" -extfile "$1.ext" -in "$1.csr" \
        -out "$1.pem" 2>/dev/null
    cat "$1.pem" intermediate.pem >"$1.chain.pem"
}
issue codeSigning sign -1 2 codeSigning
issue serverAuth sign -1 2 serverAuth
issue expired sign -3 -1 codeSigning
issue future sign 1 3 codeSigning
issue ca sign -1 2 codeSigning CA:TRUE
issue other other -1 2 codeSigning
password=p12-pass-27182818 pin=48151623
for kind in codeSigning serverAuth; do
    openssl pkcs12 -export -inkey sign.key -in "$kind.pem" -certfile intermediate.pem \
        -out "$kind.p12" -passout "pass:$password"
done

# The code-signing key in a SoftHSM token, as a real one lives on a token or in an HSM.
export SOFTHSM2_CONF="$work/softhsm2.conf"
mkdir tokens
echo "directories.tokendir = $work/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label release --pin "$pin" --so-pin 5678 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in sign.key -out sign.p8
softhsm2-util --import sign.p8 --token release --label sign --id 01 --pin "$pin" >/dev/null
module=$(find /usr/lib -name libsofthsm2.so | head -n 1)

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(date +%s)
exe="$root/build/win32/FinishSetup.exe"
verify() { osslsigncode verify -CAfile root.pem -in "$1" >"$1.verify" 2>&1 || fail "$1: $(tail -n 3 "$1.verify")"; }
# The command lines of every process that the command started, which every local user can
# read; with -v, strace shows each environment after them, which is the user's alone.
watch=(strace -f -qq -v -s 4096 -e trace=execve -o "$work/exec.log")
with_p12() { SIGN_PKCS12="$1.p12" SIGN_PASSWORD="$2" ${watched:+"${watch[@]}"} bash "$sign" "${@:3}"; }
with_token() {  # certificate PIN files...
    SIGN_PKCS11_MODULE="$module" SIGN_KEY="pkcs11:token=release;object=sign;type=private" \
        SIGN_CERT="$1" SIGN_PIN="$2" ${watched:+"${watch[@]}"} bash "$sign" "${@:3}"
}
watched=
no_secret_in_arguments() {
    grep -q osslsigncode exec.log || fail "no osslsigncode seen: $(head -n 3 exec.log)"
    ! sed 's/], \[.*//' exec.log | grep -e "$pin" -e "$password" || fail "a secret in a command line"
}

cp "$exe" p12.exe
cp "$exe" p12-again.exe
watched=1 with_p12 codeSigning "$password" p12.exe p12-again.exe >/dev/null
no_secret_in_arguments
verify p12.exe
cmp -s p12.exe p12-again.exe || fail "two signings at the same SOURCE_DATE_EPOCH differ"
cp "$exe" token.exe
watched=1 with_token codeSigning.chain.pem "$pin" token.exe >/dev/null
no_secret_in_arguments
verify token.exe

# Refused, each with its reason, the file as it was.
refused() {
    local expected=$1
    shift
    cp "$exe" refused.exe
    if "$@" refused.exe >refused.log 2>&1; then fail "signed: $*"; fi
    grep -q "$expected" refused.log || fail "not said: $expected: $(cat refused.log)"
    cmp -s "$exe" refused.exe || fail "refused.exe changed by: $*"
}
refused "the password is wrong" with_p12 codeSigning wrong
refused "not for code signing" with_p12 serverAuth "$password"
refused "cannot read the PKCS#12 file" with_p12 missing "$password"
refused "no key" bash "$sign"
refused "the PIN is wrong" with_token codeSigning.chain.pem 0000
refused "take pin-value out of the URI" env SIGN_PKCS11_MODULE="$module" \
    SIGN_KEY="pkcs11:token=release;object=sign;type=private;pin-value=$pin" \
    SIGN_CERT=codeSigning.pem bash "$sign"
refused "has expired" with_token expired.chain.pem "$pin"
refused "not valid yet" with_token future.chain.pem "$pin"
refused "is a CA's" with_token ca.chain.pem "$pin"
refused "does not match the key" with_token other.chain.pem "$pin"
yesterday() { local -x SOURCE_DATE_EPOCH=yesterday; "$@"; }
refused "a whole number" yesterday with_p12 codeSigning "$password"
refused "no file missing.exe" with_p12 codeSigning "$password" missing.exe
ln -s "$exe" link.exe
refused "link.exe is a symbolic link" with_p12 codeSigning "$password" link.exe

# Interrupted while it waits for a time-stamp server that never answers: nothing stays beside
# the file, no osslsigncode runs on, and the next signing goes through.
python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen()
print(s.getsockname()[1], flush=True); time.sleep(300)' >port &
for _ in $(seq 100); do [ -s port ] && break; sleep 0.1; done
cp "$exe" interrupted.exe
SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat port)" SIGN_PKCS12=codeSigning.p12 \
    SIGN_PASSWORD="$password" bash "$sign" interrupted.exe >/dev/null 2>&1 &
signer=$!
for _ in $(seq 300); do pgrep -f "interrupted.exe.signing" >/dev/null && break; sleep 0.1; done
kill -TERM "$signer"
wait "$signer" && fail "the interrupted signing succeeded"
! pgrep -f "interrupted.exe.signing" || fail "osslsigncode runs on after sign.sh was stopped"
! compgen -G ".interrupted.exe.signing*" || fail "a copy left beside the file"
cmp -s "$exe" interrupted.exe || fail "the interrupted signing changed the file"
with_p12 codeSigning "$password" interrupted.exe >/dev/null
verify interrupted.exe

# The release, from the token: into a new folder and into one whose name holds shell code,
# which no shell may run; a folder holding another file is refused and keeps it.
mkdir kept
echo "notes" >kept/notes.txt
release() {
    DIST_DIR="$1" SIGN_PKCS11_MODULE="$module" SIGN_KEY="pkcs11:token=release;object=sign;type=private" \
        SIGN_CERT=codeSigning.chain.pem SIGN_PIN="$pin" ALLOW_DIRTY=1 "${@:2}" \
        bash "$root/scripts/release.sh" >release.log 2>&1
}
! release kept || fail "released into a folder holding another file"
grep -q "kept holds notes.txt" release.log || fail "not said: $(cat release.log)"
[ "$(ls kept)" = notes.txt ] || fail "the folder's file removed"
# shellcheck disable=SC2016  # no shell may ever expand it
shell_code='again`touch PWNED`$(touch PWNED)'
release dist "${watch[@]}" ||
    fail "release.sh: $(tail -n 5 release.log)"
no_secret_in_arguments
! grep -E '^[0-9]+ +execve\("[^"]*/(cmake|ninja)".*SIGN_' exec.log || fail "SIGN_ in the build's environment"
release "$shell_code" || fail "release.sh: $(tail -n 5 release.log)"
[ -z "$(find "$work" "$root" /tmp -maxdepth 2 -name PWNED 2>/dev/null)" ] || fail "a path ran as shell code"
diff -r dist "$shell_code" >/dev/null || fail "two signed releases of the same commit differ"
verify dist/FinishSetup.exe
verify dist/calendar-setup.exe
verify dist/calendar.msi
(cd dist && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match dist/"
python3 "$root/tests/wine/run_wine_tests.py" --build "$root/build/win32" --wine wine32 \
    --program dist/FinishSetup.exe --installer dist/calendar-setup.exe --msi dist/calendar.msi \
    --keep-uninstaller "$work/Uninstall.exe" -k=-normal --time-limit 600 >wine.log 2>&1 ||
    fail "the release under Wine: $(tail -n 20 wine.log)"
verify Uninstall.exe
echo "release: signed from a PKCS#12 file and from a token through an intermediate, no secret in" \
    "a command line, reproducibly; 13 refusals leave the file; an interruption leaves nothing;" \
    "the signed release rebuilt byte for byte, no path run as shell; installer, uninstaller," \
    "package and exe verify and run under Wine"
