#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the Windows tests
# under Wine (x86_64 always; i686 where the machine runs 32-bit code), the
# platform-free units natively with ASan/UBSan, and a short run of every fuzz
# target. Both Windows targets are built every time: where the i686 suite
# cannot run, only its shipped programs are, since test programs that never
# run prove nothing. Exits non-zero on any failure. KELDORA_NO_32BIT=1 acts as
# on a machine without 32-bit code.
#
# The three builds run side by side, and each target's tests start as soon as
# its own build is done: a Wine suite runs in KELDORA_WINE_LANES lanes (default
# 2), each a prefix, wineserver and X display of its own (cmake/wine-run.sh),
# the tests of one lane one at a time in a random order. Every part writes its
# log to build/logs; the logs are shown in a fixed order once all are done,
# with a line of progress each minute meanwhile. The budget is 45 minutes on
# our two-core machine, busy or not; the last line tells the time taken.
set -uo pipefail
source "$(dirname "$0")/common.sh"
started=$SECONDS
bash "$root/scripts/setup.sh" || exit 1
trap stop_wine EXIT

fuzz_seconds=${FUZZ_SECONDS:-20}
lanes=${KELDORA_WINE_LANES:-2}
# Only the Windows suites' runs take lanes (cmake/wine-run.sh).
unset KELDORA_WINE_LANES
passed=0
failed=0
skipped=0
retried=0
suites=()
logs=$root/build/logs
rm -rf "$logs"
mkdir -p "$logs"

# Each part's state: "<part>.done" holds its result once it has ended.
mark() { echo "$2" >"$logs/$1.done"; }
result_of() { cat "$logs/$1.done" 2>/dev/null; }
wait_for() {
    while [ ! -f "$logs/$1.done" ]; do sleep 2; done
}

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

# The tests a CTest log names as having failed at least once.
run_again() {
    grep -E '\*\*\*(Failed|Exception|Timeout)' "$1" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/' | sort -u
}

# Ends the wineservers and Xvfbs of a suite's prefixes, not the one the
# native tests use meanwhile (the EXIT trap ends every one).
stop_suite() {
    local state
    for state in "$1/wine" "$1"/wine-lane* "$1/wine-dpi" "$1/wine-cjk"; do
        [ -d "$state" ] && "$root/cmake/wine-run.sh" --stop "$state/prefix"
    done
}

# windows_part NAME BUILD-DIR RUN: builds one Windows target and, when RUN is
# yes, runs its suite under Wine; otherwise builds only what ships.
windows_part() {
    local name=$1 build=$2 run=$3 targets=()
    [ "$run" = yes ] || targets=(--target kdAgent freshet kdrelease)
    if ! { configure_win "$build" && cmake --build "$build" -j"$jobs" "${targets[@]}"; } >"$logs/$name-build.log" 2>&1; then
        mark "$name-build" failed
        mark "$name-tests" "not run"
        return
    fi
    mark "$name-build" ok
    if [ "$run" != yes ]; then
        mark "$name-tests" "not run"
        return
    fi
    # In a new order each time, so that a test that depends on what another
    # left in its prefix shows. A test that fails is run once more as a
    # safety net only: every retry is counted and named, and none is expected.
    (cd "$build" && KELDORA_WINE_LANES=$lanes ctest --output-on-failure --timeout 600 --schedule-random \
        --repeat until-pass:2 -j"$lanes") >"$logs/$name-tests.log" 2>&1
    stop_suite "$build"
    mark "$name-tests" ok
}

# The native build's tests run the x86_64 kdrelease.exe under Wine, so they
# start once that build has ended; the fuzz targets follow them.
native_part() {
    if ! { configure_native && cmake --build "$native_build" -j"$jobs"; } >"$logs/native-build.log" 2>&1; then
        mark native-build failed
        mark native-tests "not run"
        return
    fi
    mark native-build ok
    wait_for x86_64-build
    (cd "$native_build" && ctest -j"$jobs" --output-on-failure) >"$logs/native-tests.log" 2>&1
    [ -d "$win64_build/wine-native" ] && "$root/cmake/wine-run.sh" --stop "$win64_build/wine-native/prefix"
    mark native-tests ok
    local target name corpus
    for target in "$native_build"/bin/fuzz_*; do
        [ -x "$target" ] || continue
        name=$(basename "$target")
        corpus=$root/build/fuzz-corpus/$name
        mkdir -p "$corpus"
        if (cd "$root/build" && "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus") \
            >"$logs/$name.log" 2>&1; then
            echo "$name: ok" >>"$logs/fuzz.results"
        else
            echo "$name: FAILED" >>"$logs/fuzz.results"
        fi
    done
    mark fuzz ok
}

# How far a CTest log has come: "done/total".
ctest_progress() {
    local line
    line=$(grep -oE '^ *[0-9]+/[0-9]+ Test' "$1" 2>/dev/null | tail -n 1 | grep -oE '[0-9]+/[0-9]+')
    echo "${line:-starting}"
}

progress() {
    local part state line=""
    for part in x86_64 i686; do
        state=$(result_of "$part-build")
        if [ -z "$state" ]; then
            line+="$part: building; "
        elif [ "$state" = failed ]; then
            line+="$part: build failed; "
        elif [ -z "$(result_of "$part-tests")" ]; then
            line+="$part: tests $(ctest_progress "$logs/$part-tests.log"); "
        else
            line+="$part: done; "
        fi
    done
    if [ -z "$(result_of native-build)" ]; then
        line+="native: building"
    elif [ -z "$(result_of native-tests)" ]; then
        line+="native: tests"
    elif [ -z "$(result_of fuzz)" ]; then
        line+="native: fuzz $(cat "$logs/fuzz.results" 2>/dev/null | wc -l) done"
    else
        line+="native: done"
    fi
    echo "-- $(((SECONDS - started) / 60)) min: $line"
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

# The power-cut tests under Wine run their folders on this host program; on
# a machine that cannot mount it they skip and say why.
echo "== The power-cut tests' file system (forgetfs)"
if { configure_native && cmake --build "$native_build" --target forgetfs -j"$jobs"; } >"$logs/forgetfs-build.log" 2>&1; then
    export KELDORA_FORGETFS=$native_build/bin/forgetfs
    echo "forgetfs: built"
else
    tail -n 40 "$logs/forgetfs-build.log"
    failed=$((failed + 1))
fi

echo "== Building x86_64, i686 and native side by side; each suite starts once its build is done"
windows_part x86_64 "$win64_build" yes &
parts=($!)
windows_part i686 "$win32_build" "$run32" &
parts+=($!)
native_part &
parts+=($!)
running() {
    local pid
    for pid in "${parts[@]}"; do
        kill -0 "$pid" 2>/dev/null && return 0
    done
    return 1
}
while running; do
    for _ in $(seq 60); do
        running || break
        sleep 1
    done
    running && progress
done
wait

show_windows() {
    local name=$1 build=$2 again
    echo "== Windows build: $name"
    if [ "$(result_of "$name-build")" != ok ]; then
        tail -n 40 "$logs/$name-build.log"
        failed=$((failed + 1))
        return 1
    fi
    [ -f "$logs/$name-tests.log" ] || return 0
    echo "== Windows tests under Wine: $name"
    cat "$logs/$name-tests.log"
    count_ctest "$logs/$name-tests.log"
    again=$(run_again "$logs/$name-tests.log")
    if [ -n "$again" ]; then
        echo "Failed at least once (run again): $(echo "$again" | tr '\n' ' ')"
        retried=$((retried + $(echo "$again" | wc -l)))
    fi
}

show_windows x86_64 "$win64_build" && suites+=("x86_64 under Wine")
if show_windows i686 "$win32_build" && [ "$run32" = yes ]; then
    suites+=("i686 under Wine")
fi

echo "== Native build with AddressSanitizer and UBSan"
if [ "$(result_of native-build)" = ok ]; then
    cat "$logs/native-tests.log"
    count_ctest "$logs/native-tests.log"
    suites+=("native with sanitizers")
else
    tail -n 40 "$logs/native-build.log"
    failed=$((failed + 1))
fi

echo "== Fuzz smoke runs (${fuzz_seconds}s each)"
if [ -f "$logs/fuzz.results" ]; then
    while read -r name state; do
        echo "$name $state"
        if [ "$state" = ok ]; then
            passed=$((passed + 1))
        else
            tail -n 30 "$logs/${name%:}.log"
            failed=$((failed + 1))
        fi
    done <"$logs/fuzz.results"
    suites+=("fuzz smoke runs")
fi

echo
echo "Suites run: $(IFS=,; echo "${suites[*]}" | sed 's/,/, /g')"
if [ "$run32" = yes ]; then
    echo "i686 suite: run ($why32)"
else
    echo "i686 suite: its programs built, its tests neither built nor run ($why32)"
fi
echo "Tests that failed once and were run again: $retried"
echo "Summary: $passed passed, $failed failed, $skipped skipped"
took=$((SECONDS - started))
echo "Wall time: $((took / 60)) min $((took % 60)) s (set-up included; the budget is 45 min on our two-core machine)"
[ "$failed" -eq 0 ]
