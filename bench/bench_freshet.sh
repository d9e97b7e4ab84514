#!/usr/bin/env bash
# The updater freshet.exe under Wine against baselines measured in the same run:
#   a  silent start to "no update available" against the loopback test server
#      (freshet.exe ends by itself) against starting and ending bench_nothing.exe;
#   b  a SIZE-MB release (default 256) through the whole updater in silent mode,
#      started by the demo product, the ask dialog answered by kdAnswer.exe,
#      until the product receives message 1133, against curl of the same file;
#   c  the size of freshet.exe as built and stripped;
#   d  the memory of the visible updater during a download.
# Usage: bench/bench_freshet.sh BUILD-DIR [SIZE-MB]
# BUILD-DIR is a cross build (build/win64 or build/win32) holding freshet.exe,
# kdProduct.exe, kdAnswer.exe, bench_nothing.exe and bench_agent_memory.exe.
# PARTS (default "a b c d") chooses the parts; RUNS (default 10 for a, 3 for b)
# the runs of each side, alternated; the best and the median count.
set -euo pipefail

build=$(cd "$1" && pwd)
size_mb=${2:-256}
parts=${PARTS:-a b c d}
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$build/bin
run() { "$here/cmake/wine-run.sh" "$build/wine/prefix" "$@"; }
work=$(mktemp -d "$build/bench-freshet.XXXXXX")
server_pid=
# There is no window manager on the Xvfb display: without this, Wine waits up to
# two seconds for one whenever a window hides (the ask dialog, the product).
x11_driver='HKCU\Software\Wine\X11 Driver'
runs_wine=0
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    [ "$runs_wine" = 1 ] && run reg delete "$x11_driver" /v Managed /f >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
wants() { [[ " $parts " == *" $1 "* ]]; }
if wants a || wants b || wants d; then
    runs_wine=1
    run reg add "$x11_driver" /v Managed /d N /f >/dev/null 2>&1
fi

now_ms() { date +%s%3N; }

# summary NAME BASELINE-NAME "TIMES" "BASELINE-TIMES": best and median of both (ms) and their ratios.
summary() {
    python3 - "$@" <<'PY'
import statistics, sys
name, base_name = sys.argv[1], sys.argv[2]
times = [float(x) for x in sys.argv[3].split()]
base = [float(x) for x in sys.argv[4].split()]
print("%-22s best %7.0f ms, median %7.0f ms (%d runs)" % (name, min(times), statistics.median(times), len(times)))
print("%-22s best %7.0f ms, median %7.0f ms (%d runs)" % (base_name, min(base), statistics.median(base), len(base)))
print("ratio %s / %s: best %.2f, median %.2f"
      % (name, base_name, min(times) / min(base), statistics.median(times) / statistics.median(base)))
PY
}

start_server() {
    mkdir -p "$work/www"
    python3 "$here/tests/tools/httpserver.py" --root "$work/www" --port-file "$work/port" --time-limit 1800 \
        >/dev/null 2>&1 &
    server_pid=$!
    for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
    base="http://127.0.0.1:$(cat "$work/port")"
}

# install FOLDER PROCESS-NAME INFO-FILE: freshet.exe and its update.ini (installed version 1.0). The
# local server speaks plain http and the release is not signed: the test-server opt-out lets it in.
install() {
    rm -rf "$1"
    mkdir -p "$1"
    cp "$bin/freshet.exe" "$1/"
    printf '[UpdateInfo]\r\nProcessName=%s\r\nVersion=1.0\r\nInfoURL=%s/%s\r\nFailedURL=\r\n' "$2" "$base" "$3" \
        >"$1/update.ini"
    printf 'AllowUnverifiedUpdates=1\r\n' >>"$1/update.ini"
}

# wait_for_line FILE REGEX SECONDS
wait_for_line() {
    local i
    for i in $(seq 1 $(($3 * 100))); do
        grep -qaE "$2" "$1" 2>/dev/null && return 0
        sleep 0.01
    done
    echo "bench_freshet: no line matching '$2' in $1 after $3 s" >&2
    return 1
}

# Until no updater or stub of FOLDER runs (the stub and the updater's relaunch
# name the folder; other prefixes on the machine run programs of the same names).
wait_until_gone() {
    local i folder="Z:${1//\//\\}"
    for i in $(seq 1 600); do
        ps -eo args | grep -aiF "$folder" | grep -qaiE 'freshet\.exe|zeredira3\.exe' || return 0
        sleep 0.1
    done
    echo "bench_freshet: the updater or the stub still runs in $1" >&2
    return 1
}

start_server
printf '#version=1.0\r\n#url=%s/none.bin\r\n' "$base" >"$work/www/same.txt"

if wants a; then
    echo "== a. Silent start to \"no update available\" against a do-nothing program"
    install "$work/a" "" same.txt
    freshet_no_update() {
        local start
        start=$(now_ms)
        run "$work/a/freshet.exe" /silent 0
        echo $(($(now_ms) - start))
    }
    nothing() {
        local start
        start=$(now_ms)
        run "$bin/bench_nothing.exe"
        echo $(($(now_ms) - start))
    }
    freshet_no_update >/dev/null
    nothing >/dev/null
    freshet_times=()
    nothing_times=()
    for _ in $(seq 1 "${RUNS:-10}"); do
        freshet_times+=("$(freshet_no_update)")
        nothing_times+=("$(nothing)")
    done
    summary "freshet /silent" "bench_nothing" "${freshet_times[*]}" "${nothing_times[*]}"
fi

if wants b; then
    echo "== b. A $size_mb MB release through the whole updater (silent) against curl"
    head -c $((size_mb * 1024 * 1024)) /dev/urandom >"$work/www/release.bin"
    printf '#version=2.0\r\n#url=%s/release.bin\r\n#message={<b>Benchmark release</b>}\r\n' "$base" \
        >"$work/www/big.txt"
    # One run: the product starts the updater; prints "whole download" in ms:
    # from the updater's start and from the Yes click to message 1133.
    through_updater() {
        local folder=$work/b log=$work/b/kdProduct.log
        install "$folder" "" big.txt
        cp "$bin/kdProduct.exe" "$folder/"
        run "$folder/kdProduct.exe" &
        local product=$!
        local clicked
        clicked=$(run "$bin/kdAnswer.exe" click freshet.exe '#32770' - Yes 120 | tr -d '\r')
        wait_for_line "$log" ' close-request 1133' 600
        wait "$product"
        wait_until_gone "$folder"
        cmp -s "$work/www/release.bin" "$folder/release.bin" || { echo "bench_freshet: the release differs" >&2; exit 1; }
        local started received
        started=$(awk '$3 == "updater-started" { print $1 }' "$log")
        received=$(awk '$3 == "close-request" { print $1 }' "$log")
        echo "$((received - started)) $((received - clicked))"
    }
    through_curl() {
        rm -f "$work/curl.bin"
        curl -s -o "$work/curl.bin" -w '%{time_total}\n' "$base/release.bin" | awk '{ printf "%.0f\n", $1 * 1000 }'
    }
    through_updater >/dev/null
    whole=()
    download=()
    curl_times=()
    for _ in $(seq 1 "${RUNS:-3}"); do
        curl_times+=("$(through_curl)")
        read -r w d <<<"$(through_updater)"
        whole+=("$w")
        download+=("$d")
    done
    rm -f "$work/curl.bin"
    echo "From the Yes click to message 1133 (download, stub written and started):"
    summary "freshet download" "curl" "${download[*]}" "${curl_times[*]}" | sed 's/^/  /'
    echo "From the updater's start to message 1133 (start, check, ask dialog answered by kdAnswer, download):"
    summary "freshet whole" "curl" "${whole[*]}" "${curl_times[*]}" | sed 's/^/  /'
    python3 - "${curl_times[*]}" "${download[*]}" <<'PY'
import statistics, sys
c = [float(x) for x in sys.argv[1].split()]
d = [float(x) for x in sys.argv[2].split()]
print("throughput freshet/curl (download): best %.2f, median %.2f (goal >= 0.8)"
      % (min(c) / min(d), statistics.median(c) / statistics.median(d)))
PY
fi

if wants c; then
    echo "== c. Size of freshet.exe (goal <= 1 MB, stub and 25 languages inside)"
    case "$(cat "$build/wine/arch")" in
    win64) strip=x86_64-w64-mingw32-strip ;;
    *) strip=i686-w64-mingw32-strip ;;
    esac
    "$strip" -o "$work/freshet-stripped.exe" "$bin/freshet.exe"
    built=$(stat -c %s "$bin/freshet.exe")
    stripped=$(stat -c %s "$work/freshet-stripped.exe")
    echo "as built ($(basename "$build")): $built bytes ($(awk -v b="$built" 'BEGIN { printf "%.2f", b / 1048576 }') MB)"
    echo "stripped:        $stripped bytes ($(awk -v b="$stripped" 'BEGIN { printf "%.2f", b / 1048576 }') MB)"
fi

if wants d; then
    echo "== d. Memory of the visible updater during a download"
    head -c $((8 * 1024 * 1024)) /dev/urandom >"$work/www/slow.bin"
    # About twenty seconds for 8 MB.
    printf '#version=2.0\r\n#url=%s/slow.bin?slow=10&chunk=4096&as=/slow.bin\r\n' "$base" >"$work/www/slow.txt"
    folder=$work/d
    install "$folder" "" slow.txt
    cp "$bin/kdProduct.exe" "$folder/"
    run "$folder/kdProduct.exe" /update &
    product=$!
    run "$bin/kdAnswer.exe" click freshet.exe '#32770' - Yes 120 >/dev/null
    run "$bin/kdAnswer.exe" wait freshet.exe - 'Freshet!' 30 >/dev/null
    sleep 8
    host_pid=$(ps -eo pid,args | awk '$2 ~ /freshet\.exe$/ && $3 == "update" { print $1; exit }')
    product_pid=$(ps -eo pid,args | awk '$2 ~ /kdProduct\.exe$/ { print $1; exit }')
    memory() {
        grep -E '^(VmHWM|VmRSS|RssAnon|RssFile|Threads)' /proc/"$1"/status | tr -s ' \t' ' ' | paste -sd ',' |
            sed 's/,/, /g'
    }
    echo "Windows figures of the update window's process: $(run "$bin/bench_agent_memory.exe" - 'Freshet!' | tr -d '\r')"
    echo "freshet.exe host process: $(memory "$host_pid")"
    echo "The demo product beside it (a plain window program): $(memory "$product_pid")"
    wait_for_line "$folder/kdProduct.log" ' close-request 1133' 120
    wait "$product"
    wait_until_gone "$folder"
fi
