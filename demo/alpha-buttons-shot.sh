#!/bin/sh
# Takes a PNG screenshot of demo/kdAlphaButtons.cpp's window under the Wine
# prefix and Xvfb of the x86_64 build. Build the kdAlphaButtons target first.
# Usage: demo/alpha-buttons-shot.sh [output.png]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
out=${1:-$build/demo/alpha-buttons.png}
mkdir -p "$(dirname "$out")"
"$root/cmake/wine-run.sh" "$build/wine/prefix" "$build/bin/kdAlphaButtons.exe" 6 > "$build/demo-alpha.log" 2>&1 &
program=$!
sleep 4
display=${DISPLAY:-$(cat "$build/wine/xvfb.display")}
import -display "$display" -window root -crop 420x260+0+0 "$out"
wait "$program"
echo "Screenshot: $out"
