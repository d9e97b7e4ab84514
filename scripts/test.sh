#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the Windows tests
# under Wine, the platform-free units natively with ASan/UBSan, and a short run
# of every fuzz target. Exits non-zero on any failure.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$root/scripts/setup.sh" || exit 1
trap stop_wine EXIT

fuzz_seconds=${FUZZ_SECONDS:-20}
passed=0
failed=0
logs=$root/build/logs
mkdir -p "$logs"

count_ctest() {
    local line p f
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    p=$(( $(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/') - f ))
    passed=$((passed + p))
    failed=$((failed + f))
}

echo "== Windows build and tests under Wine"
if configure_win && cmake --build "$win_build" -j"$jobs" >"$logs/win-build.log" 2>&1; then
    (cd "$win_build" && ctest --output-on-failure --timeout 600) 2>&1 | tee "$logs/win-tests.log"
    count_ctest "$logs/win-tests.log"
else
    tail -n 40 "$logs/win-build.log"
    failed=$((failed + 1))
fi
stop_wine

echo "== Native build with AddressSanitizer and UBSan"
if configure_native && cmake --build "$native_build" -j"$jobs" >"$logs/native-build.log" 2>&1; then
    (cd "$native_build" && ctest -j"$jobs" --output-on-failure) 2>&1 | tee "$logs/native-tests.log"
    count_ctest "$logs/native-tests.log"
else
    tail -n 40 "$logs/native-build.log"
    failed=$((failed + 1))
fi

echo "== Fuzz smoke runs (${fuzz_seconds}s each)"
for target in "$native_build"/bin/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$root/build/fuzz-corpus/$name
    mkdir -p "$corpus"
    if (cd "$root/build" && "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus") \
        >"$logs/$name.log" 2>&1; then
        echo "$name: ok"
        passed=$((passed + 1))
    else
        echo "$name: FAILED"
        tail -n 30 "$logs/$name.log"
        failed=$((failed + 1))
    fi
done

echo
echo "Summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
