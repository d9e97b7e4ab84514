#!/usr/bin/env bash
# Bytes a server sends for 1 000 update checks with nothing new: the engine
# against a server that honours its validators (ETag, 304 without a body)
# and against one that sends the whole information file each time, in the
# same run, with the ratio of the two.
# Usage: bench/bench_checks.sh BUILD-DIR [CHECKS]
# BUILD-DIR is a cross build (build/win64 or build/win32) holding bin/bench_checks.exe.
set -euo pipefail

build=$(cd "$1" && pwd)
checks=${2:-1000}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "$build/bench-checks.XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# An information file of a usual size: the release's message and two files.
{
    printf '#version=1.0\r\n#product=Bench Checks\r\n#message={'
    for i in $(seq 1 20); do printf 'Line %d of what is new in this release, as publishers write it.\r\n' "$i"; done
    printf '}\r\n#url=https://example.com/app.exe\r\n#sha256=%064d\r\n#url0=https://example.com/lib.dll\r\n' 0
    printf '#sha256_0=%064d\r\n#moreinfourl=https://example.com/notes.html\r\n' 1
} >"$work/info.txt"
python3 "$here/tests/tools/httpserver.py" --root "$work" --port-file "$work/port" --time-limit 900 \
    >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$work/port")/info.txt"

run() {  # QUERY STATE-NAME
    mkdir -p "$work/$2"
    "$here/cmake/wine-run.sh" "$build/wine/prefix" "$build/bin/bench_checks.exe" "$base?$1" \
        "Z:${work//\//\\}\\$2\\" "$checks"
}
with=$(run "conditional=1" with)
without=$(run "" without)

python3 - "$(wc -c <"$work/info.txt")" "$with" "$without" <<'PY'
import re, sys
size = int(sys.argv[1])
def parse(line):
    return {k: float(v) for k, v in re.findall(r"(\w+)=([0-9.]+)", line)}
with_, without = parse(sys.argv[2]), parse(sys.argv[3])
for name, r in (("with validators", with_), ("without", without)):
    print("%-16s %d checks, %d bytes served (%.0f per check), %.1f s"
          % (name + ":", r["checks"], r["bytes"], r["bytes"] / r["checks"], r["seconds"]))
print("information file: %d bytes; bytes served with/without validators: %.3f"
      % (size, with_["bytes"] / without["bytes"]))
PY
