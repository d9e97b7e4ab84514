#!/usr/bin/env bash
# The agent's speed and footprint under Wine. First, the first take-over of
# 2 000 Run values by the real agent against `reg query` of the key, all timed
# from here, ROUNDS (default 5) rounds alternating: a program that does
# nothing (the cost of starting one from here); `reg query` of the key
# holding them; a start of kdAgent.exe with an empty key until its first
# take-over is done (only its own entry: the start-up as a window program,
# settings, log, and kdAgentCtl's own start); a start with the 2 000 values
# until their take-over is done. It prints the medians and the ratios: the
# whole start and the start less the empty one against reg query, and the
# latter against reg query less the program doing nothing; then the
# in-process figure (bench_first_takeover) of the same run. Then one refresh
# cycle at N = 100 and 1 000 entries against the raw enumeration baseline
# (bench_agent_refresh), how soon the running agent takes over a new Run value
# and Startup file (bench_watch_latency, 20 of each), the idle agent watched
# for IDLE_SECONDS (default 60): the private bytes Windows reports, the host
# process's resident memory (beside a baseline tray program, run without and
# with the agent's change watch), and how often each of its threads woke up
# (context switches), and its memory before and after CHANGES (default 1 000)
# changes of the Run key, each taken over.
# Usage: bench/bench_agent.sh BUILD-DIR [first-takeover]   (a cross build
# holding bin/kdAgent.exe; with "first-takeover" only the first part runs)
# Uses (and empties) the Run keys and Startup folders of the build's prefix.
set -euo pipefail

build=$(cd "$1" && pwd)
idle=${IDLE_SECONDS:-60}
here=$(cd "$(dirname "$0")/.." && pwd)
prefix=$build/wine/prefix
run() { "$here/cmake/wine-run.sh" "$prefix" "$@"; }

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

run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The values of bench_first_takeover: quoted, with arguments, without a folder.
seed_file=$folder/seed.reg
{
    echo 'REGEDIT4'
    echo
    echo "[${run_key/HKCU/HKEY_CURRENT_USER}]"
    for ((i = 0; i < 2000; i++)); do
        case $((i % 3)) in
        0) line="\\\"C:\\\\windows\\\\notepad.exe\\\" /arg$i" ;;
        1) line="C:\\\\windows\\\\system32\\\\cmd.exe /c rem $i" ;;
        *) line="C:\\\\Program Files\\\\Tool $i\\\\tool.exe -x" ;;
        esac
        echo "\"entry$i\"=\"$line\""
    done
} >"$seed_file"

# An agent started with the Run key and its store as they are, timed until
# its first take-over is done, then told to quit.
timed_start() {
    local start seconds
    start=$(now)
    run "$folder/kdAgent.exe" >&2 &
    agent=$!
    run "$build/bin/kdAgentCtl.exe" taken >/dev/null
    seconds=$(since "$start")
    run "$build/bin/kdAgentCtl.exe" quit >/dev/null
    wait "$agent"
    agent=
    echo "$seconds"
}

empty_run_key() {
    run reg delete "$run_key" /f >/dev/null 2>&1 || true
    run reg add "$run_key" /f >/dev/null
}

first_takeover() {
    local rounds=${ROUNDS:-5} round start nothing=() query=() empty=() full=()
    echo "== First take-over of 2 000 Run values by the started agent, against reg query, from outside"
    echo "load before: $(uptime)"
    # Unmeasured: the shell's age opens the agent's logon gate, the session's mark is made.
    empty_run_key
    timed_start >/dev/null
    for ((round = 0; round < rounds; round++)); do
        empty_run_key
        run reg import "Z:${seed_file//\//\\}" >/dev/null 2>&1
        start=$(now)
        run "$build/bin/bench_nothing.exe"
        nothing+=("$(since "$start")")
        start=$(now)
        run reg query "$run_key" >/dev/null
        query+=("$(since "$start")")
        empty_run_key
        empty+=("$(timed_start)")
        run reg import "Z:${seed_file//\//\\}" >/dev/null 2>&1
        run reg delete "$run_key\\Keldora" /f >/dev/null 2>&1 || true
        full+=("$(timed_start)")
        echo "round $((round + 1)): a program doing nothing ${nothing[-1]} s, reg query ${query[-1]} s, empty start ${empty[-1]} s, start with 2 000 ${full[-1]} s"
    done
    local n q e f
    n=$(printf '%s\n' "${nothing[@]}" | median)
    q=$(printf '%s\n' "${query[@]}" | median)
    e=$(printf '%s\n' "${empty[@]}" | median)
    f=$(printf '%s\n' "${full[@]}" | median)
    awk -v n="$n" -v q="$q" -v e="$e" -v f="$f" 'BEGIN {
        printf "medians: a program doing nothing %.3f s, reg query %.3f s, empty start %.3f s, start with 2 000 %.3f s\n", n, q, e, f
        printf "whole start / reg query = %.2fx; (start - empty start) / reg query = %.2fx (goal <= 3x)\n", f / q, (f - e) / q
        printf "less the start of a program: (start - empty start) / (reg query - nothing) = %.2fx\n", (f - e) / (q - n)
    }'
    echo "load after: $(uptime)"
    empty_run_key
    echo "In-process, the same run:"
    run "$build/bin/bench_first_takeover.exe"
}

first_takeover
[ "${2:-}" = first-takeover ] && exit 0

echo
echo "== One refresh cycle against the raw enumeration of the four locations"
run "$build/bin/bench_agent_refresh.exe"

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
