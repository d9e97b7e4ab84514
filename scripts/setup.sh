#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Idempotent:
# packages already installed are skipped, and nothing runs apt when all are.
# The i386 architecture and wine32 are added only where the kernel runs 32-bit
# code; their absence never fails the set-up (the x86_64 suites run anyway).
set -euo pipefail
source "$(dirname "$0")/common.sh"

packages=(
    cmake make g++ clang libclang-rt-14-dev googletest libbenchmark-dev python3 curl locales openssl libssl-dev
    mingw-w64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    wine wine64 xvfb xauth x11-utils imagemagick
    fonts-wqy-microhei
)

missing() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

install() {
    echo "setup: installing $*"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@"
}

mapfile -t needed < <(missing "${packages[@]}")
[ ${#needed[@]} -eq 0 ] || install "${needed[@]}"

if ! runs_32bit_code; then
    echo "setup: this machine runs no 32-bit code; wine32 is not installed"
    exit 0
fi
if [ -z "$(missing wine32:i386)" ]; then
    exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
install wine32:i386 || echo "setup: wine32 could not be installed; only the x86_64 suites will run"
