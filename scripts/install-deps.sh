#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine; does nothing when all
# is there. Usage: install-deps.sh [--optional PACKAGE]...
#
# A mirror in the middle of a sync serves an index that does not match its Release file, and
# apt-get update fails. The update is tried again a few times; then the install goes on with
# the indexes that did come. When a package still cannot be installed, it is tried once more
# from the suites whose indexes came whole (a 32-bit library may lag behind the amd64 one that
# a newer, unfetched index holds), and then named with the reason in one line. The exit status
# is 1 when a package that is not optional is missing at the end, and 0 otherwise.
set -uo pipefail

# wine32:i386 runs the shipped PE32. Where the kernel cannot execute i386 code, the tests run
# its loader under qemu-i386-static, with a small preloaded library built by gcc -m32.
# osslsigncode signs the release; SoftHSM and the PKCS#11 engine stand in for a key on a token.
packages=(cmake ninja-build g++ clang g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
          libgtest-dev libclang-rt-14-dev clang-tidy clang-format cppcheck
          wine wine64 wine32:i386 qemu-user-static gcc-multilib nsis
          xvfb xdotool x11-utils liblnk-utils locales python3 file
          openssl osslsigncode softhsm2 libengine-pkcs11-openssl)
optional=()
while [ $# -gt 0 ]; do
    case "$1" in
    --optional) optional+=("$2"); shift 2 ;;
    *) echo "usage: $0 [--optional PACKAGE]..." >&2; exit 2 ;;
    esac
done
update_tries=${APT_UPDATE_TRIES:-3}
update_pause=${APT_UPDATE_PAUSE:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'
}

# apt-get update until it succeeds or the tries are spent; its messages stay in update.log.
update_indexes() {
    local try
    for ((try = 1; try <= update_tries; try++)); do
        apt-get update -qq >"$work/update.log" 2>&1 && return 0
        echo "apt-get update failed (try $try of $update_tries): $(grep -m1 '^E:' "$work/update.log")"
        [ "$try" -lt "$update_tries" ] && sleep "$update_pause"
    done
    echo "going on with the package indexes that could be fetched"
}

# The suites of the indexes that failed, from apt-get update's messages.
failed_suites() {
    grep -o 'Failed to fetch [^ ]*/dists/[^/ ]*/' "$work/update.log" 2>/dev/null |
        sed 's#.*/dists/\([^/]*\)/#\1#' | sort -u
}

# A copy of the sources without the failed suites, for apt's Dir::Etc options: one-line
# entries naming such a suite are left out, and the suite is taken out of deb822 stanzas.
write_whole_sources() {
    local suites
    suites=$(failed_suites | tr '\n' ' ')
    mkdir -p "$work/parts"
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk -v drop="$suites" 'BEGIN { split(drop, d, " "); for (i in d) skip[d[i]] = 1 }
            { for (i = 1; i <= NF; i++) if ($i in skip) next; print }' >"$work/sources.list"
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk -v drop="$suites" 'BEGIN { RS = ""; split(drop, d, " ")
                                       for (i in d) skip[d[i]] = 1 }
            { out = ""; n = split($0, lines, "\n"); kept = 1
              for (i = 1; i <= n; i++) {
                  line = lines[i]
                  if (line ~ /^Suites:/) {
                      m = split(substr(line, 8), s, /[ \t]+/); line = "Suites:"; kept = 0
                      for (j = 1; j <= m; j++) if (s[j] != "" && !(s[j] in skip)) {
                          line = line " " s[j]; kept = 1 }
                  }
                  out = out line "\n"
              }
              if (kept) printf "%s\n", out }' "$file" >"$work/parts/$(basename "$file")"
    done
}

install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" \
        >"$work/install.log" 2>&1
}

install_from_whole_suites() {
    [ -n "$(failed_suites)" ] || return 1
    write_whole_sources
    install -o Dir::Etc::SourceList="$work/sources.list" \
        -o Dir::Etc::SourceParts="$work/parts" "$@"
}

# Why apt-get could not install: the first unmet dependency, or its last error.
install_failure() {
    local reason
    reason=$(grep -m1 'Depends:' "$work/install.log" | sed 's/^ *//')
    [ -n "$reason" ] || reason=$(grep '^E:' "$work/install.log" | tail -n1)
    echo "${reason:-apt-get install failed}"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    is_installed "$p" || missing+=("$p")
done
unavailable=()
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    update_indexes
    if ! install "${missing[@]}"; then
        for p in "${missing[@]}"; do
            is_installed "$p" || install "$p" && continue
            if install_from_whole_suites "$p"; then
                echo "installed $p without the suites whose index failed:" \
                    "$(failed_suites | tr '\n' ' ')(apt-get upgrade once the mirror is in sync)"
            else
                echo "not installed: $p: $(install_failure)"
                unavailable+=("$p")
            fi
        done
    fi
fi

# Wine takes its ANSI code page from the locale: ja_JP.UTF-8 gives code page 932, en_US.UTF-8
# code page 1252 (the warnings must read the same there).
for locale in ja_JP en_US; do
    if ! locale -a 2>/dev/null | grep -qi "^$locale\.utf-\?8$"; then
        sed -i "s/^# *\($locale.UTF-8 UTF-8\)/\1/" /etc/locale.gen
        grep -q "^$locale.UTF-8 UTF-8" /etc/locale.gen || echo "$locale.UTF-8 UTF-8" >> /etc/locale.gen
        locale-gen >/dev/null
    fi
done

required=()
for p in "${unavailable[@]}"; do
    [[ " ${optional[*]} " == *" $p "* ]] || required+=("$p")
done
if [ ${#required[@]} -gt 0 ]; then
    echo "missing: ${required[*]}: the build and the tests need them" >&2
    exit 1
fi
exit 0
