#!/usr/bin/env bash
# Benchmark of extraction: `zatool extract` against `unzip -qo`, `bsdtar -xf` and `7zz x -mmt1`
# on a few large files and on 20,000 small files in folders (the trees of bench/zip_test when its
# generator is there, else of make_data.py here), zipped by Info-ZIP zip at its default level.
# Each run writes into an emptied folder on the build's file system; warm cache; the ratios come
# from the same run. zatool runs with -F (no fsync, as the peers write) for the ratios, and once
# more with its default fsync per file for the record.
# Usage: bench/zip_extract/run.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
zatool=$build/bin/zatool
runs=${BENCH_RUNS:-5}
[ -x "$zatool" ] || { echo "missing $zatool: build first (bash scripts/build.sh)" >&2; exit 1; }
for tool in zip unzip 7zz bsdtar hyperfine; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

if [ -f "$root/bench/zip_test/make_data.py" ]; then
  data=$build/bench-data/zip_test
  generator=$root/bench/zip_test/make_data.py
else
  data=$build/bench-data/zip_extract
  generator=$root/bench/zip_extract/make_data.py
fi
mkdir -p "$data"
if [ ! -d "$data/large" ] || [ ! -d "$data/small" ]; then
  echo "generating data into $data"
  rm -rf "$data/large" "$data/small"
  /usr/bin/python3 "$generator" "$data"
fi
for name in large small; do
  [ -f "$data/$name.zip" ] || (cd "$data/$name" && zip -q -r "$data/$name.zip" .)
done

out=$(mktemp -d "$build/zip_extract.XXXXXX")
trap 'rm -rf "$out"' EXIT
dest=$out/dest
echo "machine: $(nproc) cores, $(awk '/model name/ {sub(/.*: /, ""); print; exit}' /proc/cpuinfo)," \
  "load $(cut -d' ' -f1-3 /proc/loadavg), $(df -T "$out" | awk 'NR == 2 {print $2}') under $build"
for name in large small; do
  a=$data/$name.zip
  echo
  echo "== extract: $name.zip ($(du -hL "$a" | cut -f1), $(unzip -Z1 "$a" | wc -l) entries)"
  hyperfine --warmup 1 --runs "$runs" --export-json "$out/$name.json" \
    --prepare "rm -rf $dest && mkdir $dest" \
    -n zatool "$zatool extract -F $a $dest" \
    -n unzip "unzip -qo $a -d $dest" \
    -n bsdtar "bsdtar -xf $a -C $dest" \
    -n 7zz "7zz x -mmt1 -y -bso0 -bsp0 -o$dest $a" >/dev/null
  hyperfine --runs 1 --prepare "rm -rf $dest && mkdir $dest" --export-json "$out/$name-sync.json" \
    -n "zatool-fsync" "$zatool extract $a $dest" >/dev/null
  /usr/bin/python3 - "$out/$name.json" "$out/$name-sync.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
synced = json.load(open(sys.argv[2]))["results"][0]
ours, peers = results[0], results[1:]
for r in results + [synced]:
    print("  %-13s %9.1f ms  +- %6.1f" % (r["command"], r["mean"] * 1000, (r["stddev"] or 0) * 1000))
for p in peers:
    print("  zatool / %-7s %.2fx" % (p["command"], ours["mean"] / p["mean"]))
best = min(peers, key=lambda r: r["mean"])
print("  ratio against the fastest peer (%s): %.2fx" % (best["command"], ours["mean"] / best["mean"]))
PY
done
