#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the Windows tests
# under Wine (x86_64 always; i686 where the machine runs 32-bit code), the
# platform-free units natively with ASan/UBSan, and a short run of every fuzz
# target. Both Windows targets are built every time. Exits non-zero on any
# failure. KELDORA_NO_32BIT=1 acts as on a machine without 32-bit code.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$root/scripts/setup.sh" || exit 1
trap stop_wine EXIT

fuzz_seconds=${FUZZ_SECONDS:-20}
passed=0
failed=0
skipped=0
retried=0
suites=()
logs=$root/build/logs
mkdir -p "$logs"

count_ctest() {
    local line p f s
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    # CTest counts a skipped test among the passed ones; it is not a pass.
    s=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$1")
    p=$(( $(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/') - f - s ))
    passed=$((passed + p))
    failed=$((failed + f))
    skipped=$((skipped + s))
}

# build_win NAME BUILD-DIR: configures and builds one Windows target.
build_win() {
    echo "== Windows build: $1"
    if configure_win "$2" && cmake --build "$2" -j"$jobs" >"$logs/$1-build.log" 2>&1; then
        return 0
    fi
    tail -n 40 "$logs/$1-build.log"
    failed=$((failed + 1))
    return 1
}

# test_win NAME BUILD-DIR: runs one target's suite under Wine.
test_win() {
    echo "== Windows tests under Wine: $1"
    # In a new order each time, so that a test that depends on what another
    # left in the shared prefix shows. A test that fails is run once more as a
    # safety net only: every retry is counted and named, and none is expected.
    (cd "$2" && ctest --output-on-failure --timeout 600 --schedule-random --repeat until-pass:2) 2>&1 |
        tee "$logs/$1-tests.log"
    count_ctest "$logs/$1-tests.log"
    local again
    again=$(grep -E '\*\*\*(Failed|Exception|Timeout)' "$logs/$1-tests.log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/' | sort -u)
    if [ -n "$again" ]; then
        echo "Failed at least once (run again): $(echo "$again" | tr '\n' ' ')"
        retried=$((retried + $(echo "$again" | wc -l)))
    fi
    stop_wine "$2"
}

if runs_32bit_code; then
    run32=yes
    why32="this machine runs 32-bit code"
elif [ "${KELDORA_NO_32BIT:-0}" = 1 ]; then
    run32=no
    why32="KELDORA_NO_32BIT=1 acts as a machine without 32-bit code"
else
    run32=no
    why32="this kernel runs no 32-bit code (a 32-bit probe program did not start)"
fi
if [ "$run32" = yes ] && [ ! -x /usr/lib/wine/wine ]; then
    run32=no
    why32="wine32 is not installed"
fi

echo "== Include layers"
if python3 "$root/scripts/check-layers.py"; then
    passed=$((passed + 1))
    suites+=("include layers")
else
    failed=$((failed + 1))
fi

echo "== Wide calls"
if python3 "$root/scripts/check-wide.py"; then
    passed=$((passed + 1))
    suites+=("wide calls")
else
    failed=$((failed + 1))
fi

build_win x86_64 "$win64_build" && { test_win x86_64 "$win64_build"; suites+=("x86_64 under Wine"); }
if build_win i686 "$win32_build" && [ "$run32" = yes ]; then
    test_win i686 "$win32_build"
    suites+=("i686 under Wine")
fi

echo "== Native build with AddressSanitizer and UBSan"
if configure_native && cmake --build "$native_build" -j"$jobs" >"$logs/native-build.log" 2>&1; then
    (cd "$native_build" && ctest -j"$jobs" --output-on-failure) 2>&1 | tee "$logs/native-tests.log"
    count_ctest "$logs/native-tests.log"
    suites+=("native with sanitizers")
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
suites+=("fuzz smoke runs")

echo
echo "Suites run: $(IFS=,; echo "${suites[*]}" | sed 's/,/, /g')"
if [ "$run32" = yes ]; then
    echo "i686 suite: run ($why32)"
else
    echo "i686 suite: built, not run ($why32)"
fi
echo "Tests that failed once and were run again: $retried"
echo "Summary: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
