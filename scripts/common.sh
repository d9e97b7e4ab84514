# Shared by the demo and test scripts: build folders and how to configure them.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
win_build=$root/build/win
native_build=$root/build/native
jobs=$(nproc)

configure_win() {
    cmake -S "$root" -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_native() {
    CC=clang CXX=clang++ cmake -S "$root" -B "$native_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

# Runs a Windows program of the build under the build's Wine prefix.
wine_run() {
    "$root/cmake/wine-run.sh" "$win_build/wine/prefix" "$@"
}

# Ends the build's wineserver and the Xvfb that the wrapper started.
stop_wine() {
    WINEPREFIX=$win_build/wine/prefix wineserver -k 2>/dev/null || true
    if [ -f "$win_build/wine/xvfb.display" ]; then
        pkill -f "Xvfb $(cat "$win_build/wine/xvfb.display") " 2>/dev/null || true
        rm -f "$win_build/wine/xvfb.display"
    fi
}
