#!/usr/bin/env bash
# Bytes an update from release N to N+1 moves, in one run on the same files:
# the roads kdrelease make --previous writes (a one-hop patch when the
# installed file is release N's, else the compressed form, else the whole
# file; an unchanged file costs nothing) against the smallest of the peers
# bsdiff, xdelta3 -9 and zstd --patch-from --ultra -22 --long on each changed
# file, plus the information file; and a fresh install (every compressed
# form) against xz -9 of each file:
#   a  freshet.exe of two builds (OLD and NEW),
#   b  a 20 MB data file with 1 % changed in place and a 4 KB insertion,
#   c  a release of 50 files of 200 KB with 2 changed.
# Usage: bench/bench_roads.sh KDRELEASE OLD-FRESHET NEW-FRESHET
# KDRELEASE is a native kdrelease (build/native/bin/kdrelease); the peers are
# Debian's bsdiff, xdelta3, zstd and xz-utils. Not part of the tests.
set -euo pipefail

kdrelease=$(realpath "$1")
old_freshet=$(realpath "$2")
new_freshet=$(realpath "$3")
for tool in bsdiff xdelta3 zstd xz python3; do
    command -v "$tool" >/dev/null || { echo "bench_roads: $tool is missing (apt-get install bsdiff xdelta3 zstd xz-utils)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$kdrelease" keygen "$work/key.pem" >"$work/keygen.txt"
public=$(sed -n 's/^PublicKey=//p' "$work/keygen.txt")

ini() {
    printf '[UpdateInfo]\r\nProcessName=product.exe\r\nVersion=%s\r\nInfoURL=https://dl.example.com/rel/info.txt\r\nPublicKey=%s\r\nProduct=Bench\r\n' \
        "$1" "$public"
}

# The case's folders old/ and new/ are filled by the caller.
measure() {
    local name=$1 dir=$work/$1
    ini 1.0 >"$dir/old/update.ini"
    ini 2.0 >"$dir/new/update.ini"
    "$kdrelease" make --key "$work/key.pem" --version 2.0 --product Bench --base-url https://dl.example.com/rel/ \
        --installed-files product.exe --previous "$dir/old" "$dir/new" >"$dir/make.txt"
    python3 - "$name" "$dir" <<'PY'
import hashlib, os, subprocess, sys
name, folder = sys.argv[1], sys.argv[2]
old, new = os.path.join(folder, "old"), os.path.join(folder, "new")
info = open(os.path.join(new, "info.txt"), "rb").read().decode()
keys = {}
for line in info.split("\r\n"):
    if line.startswith("#") and "=" in line:
        k, v = line[1:].split("=", 1)
        keys[k] = v
def sha(path): return hashlib.sha256(open(path, "rb").read()).hexdigest()
files = sorted(f for f in os.listdir(new) if f != "info.txt" and os.path.isfile(os.path.join(new, f)))
numbers = [""] + ["0"] + [str(i + 1) for i in range(2, len(files))]
ours = peers = install = xz = ini = 0
changed = []
for f, n in zip(files, numbers):
    s = "_" + n if n else ""
    path, before = os.path.join(new, f), os.path.join(old, f)
    size = os.path.getsize(path)
    fresh = int(keys.get("zsize" + s, size))
    install += fresh
    xz += len(subprocess.run(["xz", "-9", "-c", path], capture_output=True, check=True).stdout)
    if os.path.exists(before) and sha(before) == keys["sha256" + s]:
        continue
    cost, j = fresh, 1
    while ("patch" + s + "_" + str(j)) in keys:
        src, _, psize, _ = keys["patch" + s + "_" + str(j)].split(" ")
        if os.path.exists(before) and src == sha(before):
            cost = min(cost, int(psize))
        j += 1
    if not os.path.exists(before) or f == "update.ini":
        ini += cost
        continue
    out = os.path.join(folder, "peer")
    sizes = {}
    for peer, command in (("bsdiff", ["bsdiff", before, path, out]),
                          ("xdelta3 -9", ["xdelta3", "-9", "-f", "-e", "-s", before, path, out]),
                          ("zstd -22", ["zstd", "-q", "-f", "--ultra", "-22", "--long=27", "--patch-from=" + before,
                                        path, "-o", out])):
        subprocess.run(command, check=True, capture_output=True)
        sizes[peer] = os.path.getsize(out)
    best = min(sizes.values())
    ours += cost
    peers += best
    changed.append("    %s: ours %d bytes, peers %s; ratio to the smallest %.3f" %
                   (f, cost, ", ".join("%s %d" % kv for kv in sizes.items()), cost / best))
print("%s: %d files, %d changed" % (name, len(files), len(changed)))
print("\n".join(changed))
print("  changed files: ours %d bytes against the peers' %d: ratio %.3f; besides, update.ini %d and info.txt %d bytes"
      % (ours, peers, ours / peers if peers else float("nan"), ini, len(info)))
print("  fresh install: ours %d bytes against xz -9 %d: ratio %.3f" % (install, xz, install / xz))
PY
}

mkdir -p "$work/a/old" "$work/a/new"
cp "$old_freshet" "$work/a/old/freshet.exe"
cp "$new_freshet" "$work/a/new/freshet.exe"
measure a

mkdir -p "$work/b/old" "$work/b/new"
python3 - "$work/b" <<'PY'
import random, sys
r = random.Random(33)
data = bytearray(r.getrandbits(8) for _ in range(20 << 20))
open(sys.argv[1] + "/old/data.bin", "wb").write(data)
for _ in range(200):  # 1 % in 200 runs of about 1 KB
    at = r.randrange(len(data) - 1100)
    data[at:at + 1048] = bytes(r.getrandbits(8) for _ in range(1048))
at = r.randrange(len(data))
data[at:at] = bytes(r.getrandbits(8) for _ in range(4096))
open(sys.argv[1] + "/new/data.bin", "wb").write(data)
PY
measure b

mkdir -p "$work/c/old" "$work/c/new"
python3 - "$work/c" <<'PY'
import random, sys
r = random.Random(50)
words = [("".join(r.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(r.randint(2, 9)))) for _ in range(3000)]
for i in range(50):
    text = " ".join(r.choice(words) for _ in range(34000)).encode()[:200000]
    open("%s/old/file%02d.dat" % (sys.argv[1], i), "wb").write(text)
    if i in (7, 31):
        at = len(text) // 3
        text = text[:at] + b" a changed sentence of the new release " + text[at + 20:]
    open("%s/new/file%02d.dat" % (sys.argv[1], i), "wb").write(text)
PY
measure c
