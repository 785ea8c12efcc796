#!/usr/bin/env bash
# Benchmark of extracting many small files: 2,000 deflated entries of 1 to 8 KB of text in 40
# folders, `zatool extract` with its default options against `bsdtar -xf`, into an emptied
# folder on the build's file system, warm cache. Two archives of the same files, both written
# by Python's zipfile at zlib's default level: one sorted by folder, one whose entries take
# the folders in turn (d00/f0000, d01/f0001, ...), as a writer fed from several sources does.
# The ratios come from the same run; the aim is at most 0.8x bsdtar's time for both orders.
# Usage: bench/zip_extract/small-entries.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
zatool=$build/bin/zatool
runs=${BENCH_RUNS:-10}
[ -x "$zatool" ] || { echo "missing $zatool: build first (bash scripts/build.sh)" >&2; exit 1; }
for tool in bsdtar hyperfine; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

out=$(mktemp -d "$build/zip_extract_small.XXXXXX")
trap 'rm -rf "$out"' EXIT
/usr/bin/python3 - "$out" <<'PY'
import os, random, sys, zipfile
out = sys.argv[1]
rng = random.Random(2000)
words = "backup schedule volume archive update folder network computer the of and to in is".split()
names = []
for i in range(2000):
    name = "d%02d/f%04d.txt" % (i % 40, i)
    size = rng.randint(1024, 8192)
    text = []
    while sum(map(len, text)) < size:
        text.append(" ".join(rng.choices(words, k=12)) + "\n")
    path = os.path.join(out, "tree", name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write("".join(text)[:size])
    names.append(name)
for archive, order in (("sorted.zip", sorted(names)), ("alternating.zip", names)):
    with zipfile.ZipFile(os.path.join(out, archive), "w", zipfile.ZIP_DEFLATED) as z:
        for name in order:
            z.write(os.path.join(out, "tree", name), name)
PY
dest=$out/dest
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(df -T "$out" | awk 'NR == 2 {print $2}') under $build"
for order in sorted alternating; do
  a=$out/$order.zip
  echo "== extract: 2,000 small deflated entries, $order ($(du -h "$a" | cut -f1))"
  hyperfine --warmup 2 --runs "$runs" --export-json "$out/$order.json" \
    --prepare "rm -rf $dest && mkdir $dest" \
    -n zatool "$zatool extract $a $dest" \
    -n bsdtar "bsdtar -xf $a -C $dest" >/dev/null
  /usr/bin/python3 "$root/bench/zip_test/ratios.py" "$out/$order.json"
done
