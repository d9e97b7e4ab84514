#!/usr/bin/env bash
# Screenshots of the ask dialog and the update window "Freshet!" at 96 and
# 144 dots per inch, under an Xvfb of its own. Run by hand after the x86_64
# build of updater_windows_tests (it is no test): demo/dpi-shots.sh [OUT-DIR]
# The windows come from the DPI tests' measuring run, in the DPI tests' own
# prefix, whose DPI is set before each run and put back to 96 at the end;
# each window stays up while it is shot (KELDORA_SHOT_PAUSE_MS).
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

out=${1:-$win_build/demo}
prefix=$win_build/wine-dpi/prefix
tests=$win_build/bin/updater_windows_tests.exe
run="$root/cmake/wine-run.sh $prefix"
[ -x "$tests" ] || { echo "dpi-shots: build updater_windows_tests first" >&2; exit 1; }
mkdir -p "$out"
cp "$win_build/wine/arch" "$win_build/wine-dpi/arch"

# A display of its own: the first number no other X server holds.
number=150
while [ -e /tmp/.X$number-lock ] || [ -e /tmp/.X11-unix/X$number ]; do
    number=$((number + 1))
done
display=:$number
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
sleep 1
kill -0 "$xvfb" 2>/dev/null || { echo "dpi-shots: Xvfb did not start on $display" >&2; exit 1; }
export DISPLAY=$display

# The window alone: the screen around it is black.
grab() {
    import -display "$display" -window root png:- | convert - -trim +repage "$1"
    echo "dpi-shots: $1"
}

# shot DPI: waits for each window's measures, then shoots it during its pause.
shot() {
    local log=$out/dpi-$1.log
    $run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
    # A running server keeps the old DPI: the next start reads the new one.
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    KELDORA_SHOT_PAUSE_MS=4000 $run "$tests" --gtest_also_run_disabled_tests \
        --gtest_filter=UpdaterDpi.DISABLED_MeasureWindows >"$log" 2>&1 &
    local measuring=$!
    for window in ask update; do
        for _ in $(seq 1 300); do
            grep -q "^$window-reachable" "$log" && break
            sleep 0.1
        done
        sleep 1
        grab "$out/dpi-$1-$window.png"
    done
    wait "$measuring" || true
}

shot 96
shot 144
$run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
