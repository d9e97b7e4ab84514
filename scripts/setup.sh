#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Idempotent:
# packages already installed are skipped, and nothing runs apt when all are.
# The i386 architecture and wine32 are added only where the kernel runs 32-bit
# code; their absence never fails the set-up (the x86_64 suites run anyway).
# When another package manager (unattended upgrades, another set-up) holds the
# dpkg or apt lock, apt is waited for, up to KELDORA_APT_LOCK_WAIT seconds
# (default 900), before the set-up fails and says so.
# nginx is for the tests, which start their own on 127.0.0.1: its system
# service is kept from starting while it is installed. bsdiff and xdelta3 are
# the peers of bench/bench_roads.sh.
# The zstd sources, which no mingw-w64 package ships, come from Debian's source
# package libzstd and are unpacked once into KELDORA_ZSTD_CACHE (default
# /var/cache/keldora/libzstd), where CMake finds them: the build downloads nothing.
set -euo pipefail
source "$(dirname "$0")/common.sh"

lock_wait=${KELDORA_APT_LOCK_WAIT:-900}
zstd_cache=${KELDORA_ZSTD_CACHE:-/var/cache/keldora/libzstd}

packages=(
    cmake make g++ clang libclang-rt-14-dev googletest libbenchmark-dev python3 curl locales openssl libssl-dev
    mingw-w64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    wine wine64 xvfb xauth x11-utils imagemagick
    fonts-wqy-microhei
    libfuse3-dev fuse3 pkgconf
    nginx
    bsdiff xdelta3
    xz-utils zstd
)

missing() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

# apt_get ARGS...: apt-get, tried again while another program holds a lock.
# apt-get waits for the dpkg lock itself (DPkg::Lock::Timeout), but "update"
# gives up at once on the lock of the package lists.
apt_get() {
    local deadline=$((SECONDS + lock_wait)) log rc
    log=$(mktemp)
    while :; do
        rc=0
        DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=$((deadline > SECONDS ? deadline - SECONDS : 0)) \
            "$@" 2>&1 | tee "$log" || rc=$?
        if [ "$rc" -eq 0 ] || ! grep -q 'Could not get lock' "$log"; then
            break
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "setup: another package manager held its lock for more than ${lock_wait}s; giving up" \
                "(KELDORA_APT_LOCK_WAIT sets the wait): $(grep -m 1 'Could not get lock' "$log")" >&2
            break
        fi
        echo "setup: waiting for another package manager to release its lock"
        sleep 5
    done
    rm -f "$log"
    return "$rc"
}

# A mirror being synced serves a list of the wrong size: apt-get warns and
# goes on with the old lists, which for a second architecture can leave its
# packages uninstallable. Such a list is fetched again, a few times.
update_lists() {
    local try log rc=0
    log=$(mktemp)
    for try in 1 2 3; do
        rc=0
        apt_get update | tee "$log" || rc=$?
        grep -q 'index files failed to download' "$log" || break
        [ "$try" -eq 3 ] && break
        echo "setup: a package list could not be fetched; trying again in 20 s"
        sleep 20
    done
    rm -f "$log"
    return "$rc"
}

# While packages are installed, their services stay stopped (the answer 101
# of policy-rc.d) unless the machine has a policy of its own.
keep_services_stopped() {
    local policy=/usr/sbin/policy-rc.d
    [ -e "$policy" ] && return 0
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    trap 'rm -f '"$policy" EXIT
}

install() {
    echo "setup: installing $*"
    keep_services_stopped
    update_lists && apt_get install -y "$@"
}

# Source lists of the archives in debian.sources, written only when apt knows
# no source list at all: same addresses, suites, components and keys.
add_source_lists() {
    local own=/etc/apt/sources.list.d/keldora-deb-src.sources targets
    targets=$(apt-get indextargets --format '$(CREATED_BY)')
    grep -qx Sources <<<"$targets" && return 0
    if [ ! -f /etc/apt/sources.list.d/debian.sources ]; then
        echo "setup: apt has no source lists and there is no /etc/apt/sources.list.d/debian.sources to make them" \
            "from; add a deb-src entry for the Debian archive" >&2
        return 1
    fi
    echo "setup: adding source lists ($own)"
    awk '/^Types:/ { print "Types: deb-src"; next }
         /^(URIs|Suites|Components|Signed-By):/ || /^$/ { print }' \
        /etc/apt/sources.list.d/debian.sources >"$own"
    # A list of another architecture that failed to come does not keep the
    # sources from being fetched; apt-get source says so when they are not known.
    update_lists || true
}

# The zstd sources: the upstream tarball of Debian's libzstd, unpacked into
# $zstd_cache/source, whole or not at all. Nothing is fetched once it is there.
fetch_zstd_source() {
    local stamp=$zstd_cache/source/.debian-version work version versions tarball
    [ -f "$stamp" ] && return 0
    add_source_lists
    mkdir -p "$zstd_cache"
    # What a set-up cut off left; another one running now is younger.
    find "$zstd_cache" -maxdepth 1 -name 'fetch.*' -mmin +60 -exec rm -rf {} +
    work=$(mktemp -d "$zstd_cache/fetch.XXXXXX")
    echo "setup: fetching the zstd sources (Debian source package libzstd)"
    # A mirror may list an update whose files it does not serve yet (404): an
    # earlier version of the same sources is taken then, newest first.
    mapfile -t versions < <(apt-cache showsrc libzstd 2>/dev/null | awk '$1 == "Version:" { print $2 }' | sort -u -r -V)
    for version in "${versions[@]}"; do
        find "$work" -mindepth 1 -delete
        (cd "$work" && apt_get source --download-only "libzstd=$version") && break
        echo "setup: libzstd $version could not be fetched; trying an earlier version" >&2
    done
    tarball=$(find "$work" -maxdepth 1 -name 'libzstd_*.orig.tar.*' ! -name '*.asc' | head -n 1)
    if [ -z "$tarball" ]; then
        echo "setup: no version of the source package libzstd (${versions[*]:-none known to apt}) brought its upstream tarball" >&2
        rm -rf "$work"
        return 1
    fi
    version=$(basename "$(find "$work" -maxdepth 1 -name 'libzstd_*.dsc' | head -n 1)" .dsc)
    mkdir "$work/source"
    tar -xf "$tarball" -C "$work/source" --strip-components=1
    echo "${version#libzstd_}" >"$work/source/.debian-version"
    # A set-up beside this one may have put its tree there first: that one is kept.
    [ -f "$stamp" ] || rm -rf "$zstd_cache/source"
    if ! mv -T "$work/source" "$zstd_cache/source" 2>/dev/null && [ ! -f "$stamp" ]; then
        echo "setup: the zstd sources could not be put into $zstd_cache/source" >&2
        rm -rf "$work"
        return 1
    fi
    rm -rf "$work"
}

mapfile -t needed < <(missing "${packages[@]}")
[ ${#needed[@]} -eq 0 ] || install "${needed[@]}"
fetch_zstd_source

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
