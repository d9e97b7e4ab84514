#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Idempotent:
# packages already installed are skipped, and nothing runs apt when all are.
set -euo pipefail

packages=(
    cmake make g++ clang libclang-rt-14-dev googletest libbenchmark-dev python3 curl
    mingw-w64 gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    force_update=1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${force_update:-}" ]; then
    echo "setup: installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
