#!/usr/bin/env bash
# Runs every benchmark: the native ones (Google Benchmark, Release build) and
# the Windows timing programs under Wine. Each reports ratios against a
# baseline measured in the same run. Not part of the test command.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bash "$root/scripts/setup.sh"
trap 'stop_wine "$win_build"' EXIT

bench_build=$root/build/bench
CC=clang CXX=clang++ cmake -S "$root" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release -DKELDORA_SANITIZE=OFF \
    -DKELDORA_FUZZ=OFF -DKELDORA_BENCH=ON >/dev/null
cmake --build "$bench_build" -j"$jobs" >/dev/null
configure_win
cmake --build "$win_build" -j"$jobs" >/dev/null

echo "== Command-line splitting (native)"
"$bench_build/bin/bench_cmdline"
echo "== Markup layout against a memchr pass (native)"
"$bench_build/bin/bench_markup"
echo "== Alpha blending against a plain per-pixel copy (native)"
"$bench_build/bin/bench_alpha"
echo "== Applying a patch to a 50 MB file and inflating it against copying it (native)"
"$bench_build/bin/bench_delta"
echo "== Take-over and reload (Wine)"
wine_run "$win_build/bin/bench_takeover.exe"
echo "== First take-over of 2 000 Run values against reg query (Wine)"
wine_run "$win_build/bin/bench_first_takeover.exe"
echo "== Agent refresh cycle and idle footprint (Wine)"
bash "$root/bench/bench_agent.sh" "$win_build"
echo "== HTTP download against curl (Wine)"
bash "$root/bench/bench_http.sh" "$win_build" 256 4096 cache
echo "== 1 000 update checks with nothing new: bytes served with and without validators (Wine)"
bash "$root/bench/bench_checks.sh" "$win_build"
echo "== Self-upgrade stub replacing 1 000 files against mv (Wine)"
bash "$root/bench/bench_stub.sh" "$win_build"
echo "== The updater freshet.exe: start, a 256 MB release against curl, size, memory (Wine)"
bash "$root/bench/bench_freshet.sh" "$win_build"
echo "== Applying a patch to an installed file against copying the release file (Wine)"
wine_run "$win_build/bin/bench_patch.exe" "Z:${win_build//\//\\}\\bin\\update_tests.exe"
# The earlier freshet.exe is the one the last bench run measured: the roads
# from that build to this one, as a release would publish them.
echo "== Bytes an update moves on the roads against bsdiff, xdelta3, zstd and xz (native)"
previous_freshet=$bench_build/freshet-previous.exe
if [ ! -f "$previous_freshet" ]; then
    echo "(no earlier bench run: freshet.exe against itself)"
    cp "$win_build/bin/freshet.exe" "$previous_freshet"
fi
bash "$root/bench/bench_roads.sh" "$bench_build/bin/kdrelease" "$previous_freshet" "$win_build/bin/freshet.exe"
cp "$win_build/bin/freshet.exe" "$previous_freshet"
