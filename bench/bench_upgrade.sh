#!/usr/bin/env bash
# Download step of the update engine under Wine against curl: the engine
# checks an information file listing one 256 MB release file and downloads it
# beside its program with its own settings (release files bypass the WinInet
# cache) and the given TransferBufferSize; curl fetches the same file from the
# same test server in the same run.
# With SIGNED=1 the information file is signed and carries the file's digest
# (keys made by openssl here) and the engine checks both.
# Usage: bench/bench_upgrade.sh BUILD-DIR [SIZE-MB] [BUFFER-SIZE]
# BUILD-DIR is a cross build (build/win64 or build/win32) holding bin/bench_upgrade.exe.
# RUNS (default 5) runs of each alternate; the best and the median count.
set -euo pipefail

build=$(cd "$1" && pwd)
size_mb=${2:-256}
buffer=${3:-262144}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "$build/bench-upgrade.XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/www" "$work/program"
# The engine downloads beside its own program, so the program gets a folder of its own.
cp "$build/bin/bench_upgrade.exe" "$work/program/"
head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$work/www/release.bin"
python3 "$here/tests/tools/httpserver.py" --root "$work/www" --port-file "$work/port" --time-limit 900 \
    >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$work/port")"
printf '#version=2.0\r\n#url=%s/release.bin\r\n' "$base" >"$work/www/info.txt"
key=
if [ "${SIGNED:-0}" = 1 ]; then
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/publisher.pem"
    printf '#sha256=%s\r\n' "$(openssl dgst -sha256 -r "$work/www/release.bin" | cut -c1-64)" >>"$work/www/info.txt"
    printf '#signature=%s\n' "$(openssl dgst -sha256 -sign "$work/publisher.pem" "$work/www/info.txt" |
        openssl base64 -A)" >>"$work/www/info.txt"
    key=$(openssl pkey -in "$work/publisher.pem" -pubout -outform DER | openssl base64 -A)
fi

run_wine() {
    rm -f "$work/wine.bin"
    "$here/cmake/wine-run.sh" "$build/wine/prefix" "$work/program/bench_upgrade.exe" "$base/info.txt" \
        "Z:${work//\//\\}\\wine.bin" "$buffer" ${key:+"$key"}
}
run_curl() {
    rm -f "$work/curl.bin"
    curl -s -o "$work/curl.bin" -w '%{time_total}\n' "$base/release.bin"
}
run_wine >/dev/null  # warms the prefix, the server and the page cache

runs=${RUNS:-5}
curl_times=()
wine_times=()
busiest=0
for _ in $(seq 1 "$runs"); do
    curl_times+=("$(run_curl)")
    line=$(run_wine)
    cmp -s "$work/www/release.bin" "$work/wine.bin" || { echo "bench_upgrade: the downloaded file differs" >&2; exit 1; }
    wine_times+=("$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")")
    events=$(sed -n 's/.*events_per_second=\([0-9.]*\).*/\1/p' <<<"$line")
    second=$(sed -n 's/.*busiest_second=\([0-9]*\).*/\1/p' <<<"$line")
    [ "$second" -gt "$busiest" ] && busiest=$second
done
ls "$work/program" | grep -q uTMP && { echo "bench_upgrade: a pending file was left behind" >&2; exit 1; }

python3 - "$size_mb" "${curl_times[*]}" "${wine_times[*]}" "$events" "$busiest" "$buffer" "${SIGNED:-0}" <<'PY'
import statistics, sys
size = float(sys.argv[1])
curl = [float(x) for x in sys.argv[2].split()]
wine = [float(x) for x in sys.argv[3].split()]
signed = "signed, digest checked; " if sys.argv[7] == "1" else ""
print(signed + "TransferBufferSize %s, release files uncached; %d runs each; progress events: %s per second on average"
      " (last run), at most %s in any one second (all runs)" % (sys.argv[6], len(curl), sys.argv[4], sys.argv[5]))
print("curl:   best %.3f s (%.0f MB/s), median %.3f s" % (min(curl), size / min(curl), statistics.median(curl)))
print("engine: best %.3f s (%.0f MB/s), median %.3f s" % (min(wine), size / min(wine), statistics.median(wine)))
print("throughput ratio engine/curl: best %.2f, median %.2f"
      % (min(curl) / min(wine), statistics.median(curl) / statistics.median(wine)))
PY
