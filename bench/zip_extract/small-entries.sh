#!/usr/bin/env bash
# Benchmark of extracting many small files: 2,000 deflated entries of 1 to 8 KB of text in 20
# folders (zipped by Info-ZIP zip at its default level), `zatool extract` with its default
# options against `bsdtar -xf`, into an emptied folder on the build's file system, warm cache.
# The ratio comes from the same run; the aim is at most 0.8x bsdtar's time.
# Usage: bench/zip_extract/small-entries.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
zatool=$build/bin/zatool
runs=${BENCH_RUNS:-10}
[ -x "$zatool" ] || { echo "missing $zatool: build first (bash scripts/build.sh)" >&2; exit 1; }
for tool in zip bsdtar hyperfine; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

out=$(mktemp -d "$build/zip_extract_small.XXXXXX")
trap 'rm -rf "$out"' EXIT
/usr/bin/python3 - "$out/tree" <<'PY'
import os, random, sys
rng = random.Random(2000)
words = "backup schedule volume archive update folder network computer the of and to in is".split()
for i in range(2000):
    folder = os.path.join(sys.argv[1], "d%02d" % (i % 20))
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(1024, 8192)
    text = []
    while sum(map(len, text)) < size:
        text.append(" ".join(rng.choices(words, k=12)) + "\n")
    with open(os.path.join(folder, "f%04d.txt" % i), "w") as f:
        f.write("".join(text)[:size])
PY
(cd "$out/tree" && zip -qr -X "$out/small.zip" .)
dest=$out/dest
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(df -T "$out" | awk 'NR == 2 {print $2}') under $build"
echo "== extract: 2,000 small deflated entries ($(du -h "$out/small.zip" | cut -f1))"
hyperfine --warmup 2 --runs "$runs" --export-json "$out/small.json" \
  --prepare "rm -rf $dest && mkdir $dest" \
  -n zatool "$zatool extract $out/small.zip $dest" \
  -n bsdtar "bsdtar -xf $out/small.zip -C $dest" >/dev/null
/usr/bin/python3 "$root/bench/zip_test/ratios.py" "$out/small.json"
