#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine; does nothing when all is there.
set -euo pipefail

# wine32:i386 runs the shipped PE32. Where the kernel cannot execute i386 code, the tests run
# its loader under qemu-i386-static, with a small preloaded library built by gcc -m32.
packages=(cmake ninja-build g++ clang g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
          libgtest-dev libclang-rt-14-dev clang-tidy clang-format cppcheck
          wine wine64 wine32:i386 qemu-user-static gcc-multilib nsis
          xvfb xdotool x11-utils liblnk-utils locales python3 file)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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
