#!/usr/bin/env bash
# The agent's speed and footprint under Wine: one refresh cycle at N = 100 and
# 1 000 entries against the raw enumeration baseline (bench_agent_refresh),
# then how soon the running agent takes over a new Run value and Startup file
# (bench_watch_latency, 20 of each), then the idle agent watched for IDLE_SECONDS (default 60): the private bytes
# Windows reports, the host process's resident memory (beside a baseline tray
# program, run without and with the agent's change watch), and how often each
# of its threads woke up (context switches), and its memory before and after
# CHANGES (default 1 000) changes of the Run key, each taken over.
# Usage: bench/bench_agent.sh BUILD-DIR   (a cross build holding bin/kdAgent.exe)
# Uses (and empties) the Run keys and Startup folders of the build's prefix.
set -euo pipefail

build=$(cd "$1" && pwd)
idle=${IDLE_SECONDS:-60}
here=$(cd "$(dirname "$0")/.." && pwd)
prefix=$build/wine/prefix
run() { "$here/cmake/wine-run.sh" "$prefix" "$@"; }

echo "== One refresh cycle against the raw enumeration of the four locations"
run "$build/bin/bench_agent_refresh.exe"

folder=$(mktemp -d "$build/bench-agent.XXXXXX")
agent=
cleanup() {
    if [ -n "$agent" ] && kill -0 "$agent" 2>/dev/null; then
        run "$build/bin/kdAgentCtl.exe" quit >/dev/null 2>&1 || true
        wait "$agent" 2>/dev/null || true
    fi
    rm -rf "$folder"
}
trap cleanup EXIT

cp "$build/bin/kdAgent.exe" "$folder/"
case "$(cat "$build/wine/arch")" in
win64) x86_64-w64-mingw32-strip "$folder/kdAgent.exe" ;;
*) i686-w64-mingw32-strip "$folder/kdAgent.exe" ;;
esac
export KDAGENT_MESSAGE_LOG="Z:${folder//\//\\}\\messages.log"
run "$folder/kdAgent.exe" &
agent=$!
run "$build/bin/kdAgentCtl.exe" wait
sleep 5
pid=$(pgrep -f "^$folder/kdAgent.exe" | head -n 1)

echo
echo "== Take-over after a change, while the agent runs"
run "$build/bin/bench_watch_latency.exe"

switches() {
    local task total=0
    for task in /proc/"$pid"/task/*; do
        local v n
        v=$(awk '/^voluntary_ctxt_switches/ { print $2 }' "$task/status")
        n=$(awk '/^nonvoluntary_ctxt_switches/ { print $2 }' "$task/status")
        echo "$(basename "$task") $((v + n))"
    done
}

memory() {
    grep -E '^(VmRSS|RssAnon|RssFile|Threads)' /proc/"$1"/status | tr -s ' \t' ' ' | paste -sd ',' | sed 's/,/, /g'
}

echo
echo "== Idle agent ($(stat -c %s "$folder/kdAgent.exe") bytes stripped), watched for $idle s"
echo "Windows figures: $(run "$build/bin/bench_agent_memory.exe")"
echo "kdAgent.exe host process: $(memory "$pid")"
# The baseline without and with the agent's change watch: the watch's own
# cost is the difference (kB of the host's resident and anonymous memory, and
# of the working set Windows reports).
kb() { grep -E "^$2:" /proc/"$1"/status | awk '{ print $2 }'; }
working_set_kb() { run "$build/bin/bench_agent_memory.exe" STATIC idle | sed -E 's/.*working set ([0-9.]+) MB, peak.*/\1/' | awk '{ printf "%d", $1 * 1024 }'; }
for variant in plain watch; do
    run "$build/bin/bench_agent_baseline.exe" 15 "$variant" &
    baseline=$!
    sleep 5
    baseline_pid=$(pgrep -f "^$build/bin/bench_agent_baseline.exe" | head -n 1)
    echo "Baseline tray program on the same services ($variant): $(memory "$baseline_pid")"
    eval "rss_$variant=$(kb "$baseline_pid" VmRSS) anon_$variant=$(kb "$baseline_pid" RssAnon) ws_$variant=$(working_set_kb)"
    wait "$baseline"
done
echo "The change watch's own cost: VmRSS $((rss_watch - rss_plain)) kB, RssAnon $((anon_watch - anon_plain)) kB," \
    "working set $((ws_watch - ws_plain)) kB"
before=$(switches)
sleep "$idle"
after=$(switches)
join <(echo "$before" | sort) <(echo "$after" | sort) | while read -r tid b a; do
    name=$(cat /proc/"$pid"/task/"$tid"/comm 2>/dev/null || echo '?')
    echo "thread $tid ($name): $((a - b)) wake-ups in $idle s"
done
echo "Windows figures after: $(run "$build/bin/bench_agent_memory.exe")"
echo "kdAgent.exe host process after: $(memory "$pid")"

echo
echo "== Memory over ${CHANGES:-1000} changes of the watched Run key, each taken over"
echo "Windows figures before: $(run "$build/bin/bench_agent_memory.exe")"
echo "kdAgent.exe host process before: $(memory "$pid")"
run "$build/bin/bench_watch_changes.exe" "${CHANGES:-1000}"
echo "Windows figures after: $(run "$build/bin/bench_agent_memory.exe")"
echo "kdAgent.exe host process after: $(memory "$pid")"
