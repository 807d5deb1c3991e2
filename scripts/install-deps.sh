#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine; does nothing when all
# is there. Usage: install-deps.sh [--optional PACKAGE]...
#
# Nothing installed is ever taken back: every install runs with --no-remove, and where apt could
# only go on by removing packages, they are named with the reason and the next way is tried.
#
# A mirror in the middle of a sync serves an index that does not match its Release file, and
# apt-get update fails. The update is tried again a few times. Then, when an index still
# failed, the whole missing set is installed in one transaction from the suites whose indexes
# came whole, so that both architectures resolve against the same indexes and every
# Multi-Arch: same library comes in one version; a package at a newer version in a failed suite's
# older amd64 index would otherwise pull its amd64 build to a version the i386 build cannot have.
# Only then are the full sources tried, and a package that fails in a set is tried alone.
#
# At the end every package on the list is checked again, including those it did not touch; the
# exit status is 1 when one that is not optional is missing, each named with apt's reason.
#
# INSTALL_DEPS_PACKAGES replaces the list (and leaves the locales alone); apt and dpkg are the
# ones APT_CONFIG and DPKG_ADMINDIR select, so the set-up can be tried on a world of its own.
set -uo pipefail

# wine32:i386 runs the shipped PE32. Where the kernel cannot execute i386 code, the tests run
# its loader under qemu-i386-static, with a small preloaded library built by gcc -m32.
# osslsigncode signs the release; SoftHSM and the PKCS#11 engine stand in for a key on a token.
# wixl builds the example MSI package (faketime holds its times), msitools reads its tables.
packages=(cmake ninja-build g++ clang g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
          libgtest-dev libclang-rt-14-dev clang-tidy clang-format cppcheck
          wine wine64 wine32:i386 qemu-user-static gcc-multilib nsis wixl msitools faketime
          xvfb xdotool x11-utils liblnk-utils locales python3 file strace
          openssl osslsigncode softhsm2 libengine-pkcs11-openssl)
locales=(ja_JP en_US)
if [ -n "${INSTALL_DEPS_PACKAGES:-}" ]; then
    read -ra packages <<<"$INSTALL_DEPS_PACKAGES"
    locales=()
fi
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
declare -A reason=()
declare -A way_names=([whole]="from the suites whose index came whole" [all]="from all suites")

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'
}

still_missing() {
    local p
    for p in "$@"; do is_installed "$p" || echo "$p"; done
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

# A copy of apt's sources without the failed suites, for its Dir::Etc options: one-line
# entries for such a suite are left out, and the suite is taken out of deb822 stanzas.
write_whole_sources() {
    local suites source_list source_parts file
    suites=$(failed_suites | tr '\n' ' ')
    eval "$(apt-config shell source_list Dir::Etc::SourceList/f source_parts Dir::Etc::SourceParts/d)"
    mkdir -p "$work/parts"
    cat "$source_list" "$source_parts"/*.list 2>/dev/null |
        awk -v drop="$suites" 'BEGIN { split(drop, d, " "); for (i in d) skip[d[i]] = 1 }
            /^[ \t]*deb(-src)?[ \t]/ { i = 2                  # type [options] uri suite ...
                                       if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
                                       if ($(i + 1) in skip) next }
            { print }' >"$work/sources.list"
    for file in "$source_parts"/*.sources; do
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

# apt-get install from the sources of a way ("all", or "whole": without the failed suites),
# never removing anything; its messages stay in install.log.
install() {
    local way=$1
    shift
    local sources=()
    [ "$way" = whole ] && sources=(-o Dir::Etc::SourceList="$work/sources.list"
                                   -o Dir::Etc::SourceParts="$work/parts")
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-remove --no-install-recommends \
        "${sources[@]}" "$@" >"$work/install.log" 2>&1 && return 0
    grep -q '^E: Packages need to be removed' "$work/install.log" || return 1
    # What apt would have removed, and the library versions that forced it: a Multi-Arch: same
    # package must carry one version on every architecture.
    apt-get install -s -qq --no-install-recommends "${sources[@]}" "$@" >"$work/plan.log" 2>&1
    awk '{ name = $2; sub(/:.*/, "", name); version = $3; gsub(/[][()]/, "", version) }
         /^Remv / { gone[name] = $2 " " version; removed = removed " " $2 }
         /^Inst / { new[name] = $2 " " version }
         END { printf "apt would remove%s", removed
               for (n in gone) if (n in new)
                   printf "; %s and %s must be one version (Multi-Arch: same)", gone[n], new[n]
               print "" }' "$work/plan.log" >"$work/removal"
    echo "$* ${way_names[$way]}: $(cat "$work/removal"); trying the next way"
    echo "E: $(cat "$work/removal")" >>"$work/install.log"
    return 1
}

# Why apt-get could not install: the first unmet dependency, or its last error.
install_failure() {
    local why
    why=$(grep -m1 'Depends:' "$work/install.log" | sed 's/^ *//')
    [ -n "$why" ] || why=$(grep '^E:' "$work/install.log" | tail -n1)
    echo "${why:-apt-get install failed}"
}

# One way: the whole set in one transaction, then what is still missing one package at a time,
# each failure keeping apt's reason.
install_way() {
    local way=$1 p
    shift
    install "$way" "$@" && return 0
    if [ $# -eq 1 ]; then
        reason[$1]=${reason[$1]:-$(install_failure)}
        return
    fi
    for p in $(still_missing "$@"); do
        install "$way" "$p" || reason[$p]=${reason[$p]:-$(install_failure)}
    done
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

mapfile -t missing < <(still_missing "${packages[@]}")
missing_at_start=" ${missing[*]} "
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    update_indexes
    ways=(all)
    if [ -n "$(failed_suites)" ]; then
        write_whole_sources
        echo "installing from the suites whose index came whole, leaving out:" \
            "$(failed_suites | tr '\n' ' ')(apt-get upgrade brings their updates once the mirror is in sync)"
        ways=(whole all)
    fi
    for way in "${ways[@]}"; do
        mapfile -t missing < <(still_missing "${missing[@]}")
        [ ${#missing[@]} -eq 0 ] || install_way "$way" "${missing[@]}"
    done
fi

# Wine takes its ANSI code page from the locale: ja_JP.UTF-8 gives code page 932, en_US.UTF-8
# code page 1252 (the warnings must read the same there).
for locale in "${locales[@]}"; do
    if ! locale -a 2>/dev/null | grep -qi "^$locale\.utf-\?8$"; then
        sed -i "s/^# *\($locale.UTF-8 UTF-8\)/\1/" /etc/locale.gen
        grep -q "^$locale.UTF-8 UTF-8" /etc/locale.gen || echo "$locale.UTF-8 UTF-8" >> /etc/locale.gen
        locale-gen >/dev/null
    fi
done

# The end state, not the steps: every package on the list, touched or not.
required=()
for p in $(still_missing "${packages[@]}"); do
    if [[ "$missing_at_start" != *" $p "* ]]; then
        echo "not installed: $p: removed while the set-up ran"
    else
        echo "not installed: $p: ${reason[$p]:-apt-get install failed}"
    fi
    [[ " ${optional[*]} " == *" $p "* ]] || required+=("$p")
done
if [ ${#required[@]} -gt 0 ]; then
    echo "missing: ${required[*]}: the build and the tests need them" >&2
    exit 1
fi
exit 0
