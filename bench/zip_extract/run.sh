#!/usr/bin/env bash
# Benchmark of extraction: `zatool extract` against `unzip -qo`, `bsdtar -xf` and `7zz x -mmt1`
# on the archives of bench/zip_test (a few large files; 20,000 small files in folders), zipped by
# Info-ZIP zip at its default level.
# Each run writes into an emptied folder on the build's file system; warm cache; the ratios come
# from the same run. zatool runs with -F (never a flush, as the peers write) for the ratios, and
# once more with its default options (a flush per file only on a removable drive) for the record.
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

data=$build/bench-data/zip_test
bash "$root/bench/zip_test/make_archives.sh" "$data"

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
    -n "zatool-default" "$zatool extract $a $dest" >/dev/null
  /usr/bin/python3 "$root/bench/zip_test/ratios.py" "$out/$name.json"
  /usr/bin/python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))["results"][0]
print("  zatool with its default options: %.1f ms" % (r["mean"] * 1000))' "$out/$name-sync.json"
done
