# Shared by the demo, test and bench scripts: build folders, the two Windows
# targets and how to configure them.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native_build=$root/build/native
jobs=$(nproc)

# The Windows targets: x86_64 is the tested one everywhere, i686 where the
# machine runs 32-bit code.
win64_build=$root/build/win64
win32_build=$root/build/win32
win_build=$win64_build

# A folder named otherwise is no Windows build: configuring it without a
# tool chain would make a native one.
toolchain_of() {
    case "$1" in
    "$win64_build") echo "$root/cmake/mingw-x86_64.cmake" ;;
    "$win32_build") echo "$root/cmake/mingw-i686.cmake" ;;
    *)
        echo "scripts: $1 is neither $win64_build nor $win32_build" >&2
        return 1
        ;;
    esac
}

# configure_win [BUILD-DIR]: the x86_64 build when none is named.
configure_win() {
    local build toolchain
    build=$(realpath -m "${1:-$win_build}")
    toolchain=$(toolchain_of "$build") || return 1
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_native() {
    CC=clang CXX=clang++ cmake -S "$root" -B "$native_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

# Succeeds when this kernel runs 32-bit programs: a 96-byte i386 ELF program
# that exits with 42 is written and run (no 32-bit package is needed for it).
# KELDORA_NO_32BIT=1 makes the scripts act as on a machine without 32-bit code.
runs_32bit_code() {
    [ "${KELDORA_NO_32BIT:-0}" = 1 ] && return 1
    local probe rc=0
    probe=$(mktemp)
    printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || rc=$?
    rm -f "$probe"
    [ "$rc" -eq 42 ]
}

# wine_run PROGRAM [ARGS...]: runs a Windows program of the x86_64 build (or of
# the build named by WINE_BUILD) under that build's Wine prefix.
wine_run() {
    "$root/cmake/wine-run.sh" "${WINE_BUILD:-$win_build}/wine/prefix" "$@"
}

# Ends the wineservers and the Xvfbs of one build (both when none is named):
# only those that cmake/wine-run.sh started for the build's prefixes (its
# lanes, and the prefixes of the DPI and font tests).
stop_wine() {
    local build state builds=("$@")
    [ $# -gt 0 ] || builds=("$win64_build" "$win32_build")
    for build in "${builds[@]}"; do
        for state in "$build/wine" "$build"/wine-*; do
            if [ -d "$state/prefix" ] || [ -f "$state/xvfb.pid" ]; then
                "$root/cmake/wine-run.sh" --stop "$state/prefix" || true
            fi
        done
    done
}
