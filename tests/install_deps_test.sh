#!/usr/bin/env bash
# scripts/install-deps.sh with the real apt-get and dpkg, in a private root and admin directory
# (the machine's own packages are untouched), against a local mirror in the middle of a sync:
# suite main has libdemo 1 (Multi-Arch: same) for amd64 and i386, prog64 and prog32:i386 that
# need it, and progbroken that needs what no suite has. Suite updates has libdemo 2, but its
# i386 index is served stale, at another size than its Release file says, so apt sees it for
# amd64 only. The amd64 indexes were fetched before i386 was added, as on a machine image.
set -euo pipefail
script="$(cd "$(dirname "$0")/.." && pwd)/scripts/install-deps.sh"
world=$(mktemp -d)
server=
trap '[ -z "$server" ] || kill "$server"; rm -rf "$world"' EXIT
root=$world/root repo=$world/repo
mkdir -p "$repo" "$root"/etc/apt/{apt.conf.d,sources.list.d,preferences.d} \
    "$root"/var/lib/dpkg/{info,updates,triggers} "$root"/var/lib/apt/lists/partial \
    "$root"/var/cache/apt/archives/partial "$root"/var/log/apt
touch "$root/var/lib/dpkg/status"

deb() {  # suite name version arch multi-arch depends
    local dir=$world/$2_$3_$4 index=$repo/dists/$1/main/binary-$4
    mkdir -p "$dir/DEBIAN" "$index"
    printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: test <test@localhost>\n%s%sDescription: test\n' \
        "$2" "$3" "$4" "${5:+Multi-Arch: $5$'\n'}" "${6:+Depends: $6$'\n'}" >"$dir/DEBIAN/control"
    dpkg-deb -b -Zgzip "$dir" "$repo/$2_$3_$4.deb" >/dev/null
    { cat "$dir/DEBIAN/control"; echo "Filename: ./$2_$3_$4.deb"
      echo "Size: $(stat -c%s "$repo/$2_$3_$4.deb")"
      echo "SHA256: $(sha256sum <"$repo/$2_$3_$4.deb" | cut -d' ' -f1)"; echo; } >>"$index/Packages"
}
release() {
    (cd "$repo/dists/$1" && printf 'Suite: %s\nDate: %s\nArchitectures: amd64 i386\nComponents: main\nSHA256:\n' \
        "$1" "$(date -Ru)" && for f in main/binary-*/Packages; do
        echo " $(sha256sum <"$f" | cut -d' ' -f1) $(stat -c%s "$f") $f"; done) >"$repo/dists/$1/Release"
}
deb main libdemo 1 amd64 same ''; deb main libdemo 1 i386 same ''
deb main prog64 1 amd64 '' libdemo; deb main prog32 1 i386 '' libdemo
deb main progbroken 1 amd64 '' libabsent
deb updates libdemo 2 amd64 same ''; deb updates libdemo 2 i386 same ''
release main; release updates
printf 'Package: libdemo\nVersion: 1\n\n' >"$repo/dists/updates/main/binary-i386/Packages"  # stale

python3 -c 'import functools, http.server, sys
s = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(
    http.server.SimpleHTTPRequestHandler, directory=sys.argv[1]))
print(s.server_port, flush=True); s.serve_forever()' "$repo" >"$world/port" 2>/dev/null &
server=$!
for _ in $(seq 50); do [ -s "$world/port" ] && break; sleep 0.1; done
for suite in main updates; do
    echo "deb [trusted=yes] http://127.0.0.1:$(cat "$world/port") $suite main"
done >"$root/etc/apt/sources.list"
cat >"$world/apt.conf" <<EOF
Dir "$root/";
Dir::State::status "$root/var/lib/dpkg/status";
APT::Architecture "amd64";
APT::Sandbox::User "root";
Acquire::http::Proxy::127.0.0.1 "DIRECT";
DPkg::Options { "--root=$root"; "--log=$root/var/log/dpkg.log"; "--force-bad-path"; };
EOF
export APT_CONFIG=$world/apt.conf DPKG_ADMINDIR=$root/var/lib/dpkg APT_UPDATE_PAUSE=0
apt-get update -qq

fail() { echo "FAILED: $*"; cat "$world/out"; exit 1; }
run() {  # packages...
    status=0
    INSTALL_DEPS_PACKAGES="$*" bash "$script" >"$world/out" 2>&1 || status=$?
    [ -z "${VERBOSE:-}" ] || cat "$world/out"
}

run prog64 prog32:i386
[ "$status" = 0 ] || fail "exit status $status"
grep -q ' remove ' "$root/var/log/dpkg.log" && fail "removed: $(grep ' remove ' "$root/var/log/dpkg.log")"
[ "$(dpkg-query -W -f='${Package}:${Architecture} ${Version} ${Status}\n' | sort)" = \
  "libdemo:amd64 1 install ok installed
libdemo:i386 1 install ok installed
prog32:i386 1 install ok installed
prog64:amd64 1 install ok installed" ] || fail "not the one consistent set: $(dpkg -l | grep ^ii)"
grep -qx 'installing from the suites whose index came whole, leaving out: updates (apt-get upgrade brings their updates once the mirror is in sync)' \
    "$world/out" || fail "the left-out suite not named"

cp "$root/var/lib/dpkg/status" "$world/status"
run prog64 prog32:i386
[ "$status" = 0 ] || fail "second run: exit status $status"
[ -s "$world/out" ] && fail "the second run had something to do"
cmp -s "$root/var/lib/dpkg/status" "$world/status" || fail "the second run changed packages"

run prog64 progbroken prog32:i386
[ "$status" = 1 ] || fail "exit status $status with a package that cannot be installed"
grep -qx 'not installed: progbroken: progbroken : Depends: libabsent but it is not installable' \
    "$world/out" || fail "progbroken not named with apt's reason"
cmp -s "$root/var/lib/dpkg/status" "$world/status" || fail "packages changed"
echo "install-deps: one consistent set from the whole suites, nothing removed, what is missing named"
