#!/usr/bin/env bash
# Replacing FILES (default 1 000) files: the self-upgrade stub under Wine against
# the host's `mv` moving the same files one by one, both measured in the same
# run, ROUNDS (default 5) times each; prints best and median and their ratios.
# The stub works as it does for a release: from its own folder with the
# manifest beside it, it flushes and checks every download's SHA-256 again
# and moves through its flushed journal of their digests. Its time includes starting it under Wine; a
# stub run with nothing pending shows that fixed part. Prints the stub's size.
# Usage: bench/bench_stub.sh BUILD-DIR   (a cross build holding bin/Zeredira3.exe and bin/cmdrecord.exe)
set -euo pipefail

build=$(cd "$1" && pwd)
count=${FILES:-1000}
rounds=${ROUNDS:-5}
here=$(cd "$(dirname "$0")/.." && pwd)
prefix=$build/wine/prefix
run() { "$here/cmake/wine-run.sh" "$prefix" "$@"; }

folder=$(mktemp -d "$build/bench-stub.XXXXXX")
trap 'rm -rf "$folder"' EXIT
app=$folder/app
program="Z:${app//\//\\}\\app.exe"
own=$folder/own
mkdir "$own"
cp "$build/bin/Zeredira3.exe" "$own/Zeredira3.exe"

# The old release and the new one pending beside it.
prepare() {
    rm -rf "$app"
    mkdir "$app"
    cp "$build/bin/cmdrecord.exe" "$app/app.exe"
    local i
    for i in $(seq -w 1 "$count"); do
        echo "old $i" >"$app/f$i.dat"
        echo "new $i" >"$app/f$i.dat.uTMP"
    done
}

# The manifest of the pending files (the stub deletes it when it ends).
write_manifest() {
    {
        printf 'keldora-update-manifest 2\nupdater\tapp.exe\n'
        (cd "$app" && find . -maxdepth 1 -name '*.uTMP' -printf '%f\n' | sort | while read -r f; do
            printf 'file\t%s\t%s\n' "$(sha256sum "$f" | cut -c1-64)" "${f%.uTMP}"
        done)
        printf 'end\t%s\n' "$(find "$app" -maxdepth 1 -name '*.uTMP' | wc -l)"
    } >"$own/manifest.txt"
}

check_new() {
    local pending old
    pending=$(find "$app" -name '*.uTMP' | wc -l)
    old=$(grep -l '^old' "$app"/f*.dat | wc -l || true)
    if [ "$pending" -ne 0 ] || [ "$old" -ne 0 ]; then
        echo "bench_stub: $pending files still pending, $old files old" >&2
        exit 1
    fi
}

now() { date +%s%N; }

time_mv() {
    local start f
    start=$(now)
    for f in "$app"/*.uTMP; do
        mv "$f" "${f%.uTMP}"
    done
    echo $(($(now) - start))
}

time_stub() {
    local start code=0
    write_manifest
    start=$(now)
    run "$own/Zeredira3.exe" "$program" "+/afterupgrade0" </dev/null >/dev/null 2>&1 || code=$?
    local elapsed=$(($(now) - start))
    if [ "$code" -ne 0 ]; then
        echo "bench_stub: the stub ended with $code" >&2
        exit 1
    fi
    echo "$elapsed"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
best() { sort -n | head -n 1; }
ms() { awk -v ns="$1" 'BEGIN { printf "%.1f ms", ns / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

run "$own/Zeredira3.exe" "Z:\\nowhere\\none.exe" "+/x0" </dev/null >/dev/null 2>&1 || true  # Wine warmed up

mv_times=() stub_times=() idle_times=()
for _ in $(seq 1 "$rounds"); do
    prepare
    mv_times+=("$(time_mv)")
    check_new
    prepare
    stub_times+=("$(time_stub)")
    check_new
    idle_times+=("$(time_stub)")
done

mv_best=$(printf '%s\n' "${mv_times[@]}" | best)
mv_median=$(printf '%s\n' "${mv_times[@]}" | median)
stub_best=$(printf '%s\n' "${stub_times[@]}" | best)
stub_median=$(printf '%s\n' "${stub_times[@]}" | median)
idle_median=$(printf '%s\n' "${idle_times[@]}" | median)

echo "== Replacing $count files, $rounds rounds"
echo "mv, one by one:        best $(ms "$mv_best"), median $(ms "$mv_median")"
echo "Zeredira3.exe (Wine):  best $(ms "$stub_best"), median $(ms "$stub_median")"
echo "Zeredira3.exe, nothing pending (start and restart only): median $(ms "$idle_median")"
echo "ratio stub / mv:       best $(ratio "$stub_best" "$mv_best"), median $(ratio "$stub_median" "$mv_median") (goal <= 3)"
echo "Zeredira3.exe size:    $(stat -c %s "$build/bin/Zeredira3.exe") bytes (goal <= 65536)"
