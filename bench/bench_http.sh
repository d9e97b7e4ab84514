#!/usr/bin/env bash
# Loopback throughput of TauCustomHTTP under Wine against curl, both fetching
# the same 256 MB file from the same test server in the same run.
# Usage: bench/bench_http.sh BUILD-DIR [SIZE-MB] [BUFFER-SIZE] [cache|nocache]
# BUILD-DIR is a cross build (build/win64 or build/win32) holding bin/bench_http.exe.
# RUNS (default 5) runs of each alternate; the best and the median count.
# "cache" (the client's default) lets WinInet keep a copy of every body in its
# cache, a second write of the whole file; the copies are removed afterwards.
set -euo pipefail

build=$(cd "$1" && pwd)
size_mb=${2:-256}
buffer=${3:-4096}
cache=${4:-nocache}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "$build/bench-http.XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
    if [ "$cache" = cache ]; then
        rm -rf "$build/wine/prefix/drive_c/users/"*/AppData/Local/Microsoft/Windows/INetCache/*
    fi
}
trap cleanup EXIT

head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$work/big.bin"
python3 "$here/tests/tools/httpserver.py" --root "$work" --port-file "$work/port" --time-limit 600 \
    >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")/big.bin"

run_wine() {
    rm -f "$work/wine.bin"
    "$here/cmake/wine-run.sh" "$build/wine/prefix" "$build/bin/bench_http.exe" "$url" \
        "Z:${work//\//\\}\\wine.bin" "$buffer" "$cache"
}
run_curl() {
    rm -f "$work/curl.bin"
    curl -s -o "$work/curl.bin" -w '%{time_total}\n' "$url"
}
run_wine >/dev/null  # warms the prefix, the server and the page cache

# The machine is shared, so the runs alternate and the best of each counts.
runs=${RUNS:-5}
curl_times=()
wine_times=()
for _ in $(seq 1 "$runs"); do
    curl_times+=("$(run_curl)")
    line=$(run_wine)
    cmp -s "$work/big.bin" "$work/wine.bin" || { echo "bench_http: the fetched file differs" >&2; exit 1; }
    wine_times+=("$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")")
    events=$(sed -n 's/.*events_per_second=\([0-9.]*\).*/\1/p' <<<"$line")
done

python3 - "$size_mb" "${curl_times[*]}" "${wine_times[*]}" "$events" "$buffer $cache" <<'PY'
import statistics, sys
size = float(sys.argv[1])
curl = [float(x) for x in sys.argv[2].split()]
wine = [float(x) for x in sys.argv[3].split()]
print("buffer and cache: %s; %d runs each; %s progress events per second (last run)"
      % (sys.argv[5], len(curl), sys.argv[4]))
print("curl:          best %.3f s (%.0f MB/s), median %.3f s" % (min(curl), size / min(curl), statistics.median(curl)))
print("TauCustomHTTP: best %.3f s (%.0f MB/s), median %.3f s" % (min(wine), size / min(wine), statistics.median(wine)))
print("throughput ratio TauCustomHTTP/curl: best %.2f, median %.2f"
      % (min(curl) / min(wine), statistics.median(curl) / statistics.median(wine)))
PY
