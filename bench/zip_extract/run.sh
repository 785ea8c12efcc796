#!/usr/bin/env bash
# Benchmark of extraction: `zatool extract` against `unzip -qo`, `bsdtar -xf` and `7zz x -mmt1`
# on the archives of bench/zip_test (a few large files; 20,000 small files in folders). Each
# run writes into an emptied folder on the same file system; warm cache; ratios of the same run.
# zatool runs with -F (no fsync, like the peers) for the ratios, and once more with its default
# fsync per file for the record.
# Usage: bench/zip_extract/run.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
data=$build/bench-data/zip_test
zatool=$build/bin/zatool
runs=${BENCH_RUNS:-5}
[ -x "$zatool" ] || { echo "missing $zatool: build first (bash scripts/build.sh)" >&2; exit 1; }
for tool in zip unzip 7zz bsdtar hyperfine; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

mkdir -p "$data"
if [ ! -d "$data/large" ] || [ ! -d "$data/small" ]; then
  echo "generating data into $data"
  rm -rf "$data/large" "$data/small"
  /usr/bin/python3 "$root/bench/zip_test/make_data.py" "$data"
fi
for name in large small; do
  [ -f "$data/$name.zip" ] || (cd "$data/$name" && zip -q -r "$data/$name.zip" .)
done

out=$(mktemp -d "$build/zip_extract.XXXXXX")
trap 'rm -rf "$out"' EXIT
dest=$out/dest
echo "machine: $(nproc) cores, $(awk '/model name/ {sub(/.*: /, ""); print; exit}' /proc/cpuinfo)," \
  "load $(cut -d' ' -f1-3 /proc/loadavg), $(df -T "$out" | awk 'NR == 2 {print $2}') at $out"
for name in large small; do
  a=$data/$name.zip
  echo
  echo "== extract: $name.zip ($(du -h "$a" | cut -f1), $(unzip -Z1 "$a" | wc -l) entries)"
  hyperfine --warmup 1 --runs "$runs" --export-json "$out/$name.json" \
    --prepare "rm -rf $dest && mkdir $dest" \
    -n zatool "$zatool extract -F $a $dest" \
    -n unzip "unzip -qo $a -d $dest" \
    -n bsdtar "bsdtar -xf $a -C $dest" \
    -n 7zz "7zz x -mmt1 -y -bso0 -bsp0 -o$dest $a" >/dev/null
  /usr/bin/python3 "$root/bench/zip_test/ratios.py" "$out/$name.json"
  hyperfine --runs 3 --prepare "rm -rf $dest && mkdir $dest" -n "zatool (fsync)" \
    "$zatool extract $a $dest" --export-json "$out/$name-sync.json" >/dev/null
  /usr/bin/python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))["results"][0]; print("  %-8s %8.1f ms (fsync per file, default options)" % ("zatool", r["mean"] * 1000))' "$out/$name-sync.json"
done
