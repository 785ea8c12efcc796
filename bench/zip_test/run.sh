#!/usr/bin/env bash
# Benchmark of the archive engine's entry data: `zatool test` against unzip, 7-Zip, bsdtar and
# Python's zipfile on archives made by Info-ZIP zip at its default level; peak memory on a
# 1 GiB entry; compression at level 6 against `zip -6`. Warm cache, ratios of the same run.
# Usage: bench/zip_test/run.sh [BUILD_DIR]   (data is generated once into BUILD_DIR/bench-data)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
data=$build/bench-data/zip_test
zatool=$build/bin/zatool
compress=$build/bin/zip_compress_bench
py=/usr/bin/python3
runs=${BENCH_RUNS:-7}
for tool in "$zatool" "$compress"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (bash scripts/build.sh)" >&2; exit 1; }
done
for tool in zip unzip 7zz bsdtar hyperfine /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

bash "$root/bench/zip_test/make_archives.sh" "$data"
if [ ! -f "$data/huge.zip" ]; then
  # One entry of 1 GiB: the large files repeated, cut to exactly 1 GiB.
  mkdir -p "$data/huge"
  (for _ in 1 2 3 4 5 6; do cat "$data/large"/*; done | head -c $((1 << 30)) > "$data/huge/one.bin") || true
  [ "$(stat -c %s "$data/huge/one.bin")" -eq $((1 << 30)) ]
  (cd "$data/huge" && zip -q -1 "$data/huge.zip" one.bin)
  rm -f "$data/huge/one.bin"
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
testzip="import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)"

echo "machine: $(nproc) cores, $(awk '/model name/ {sub(/.*: /, ""); print; exit}' /proc/cpuinfo), load $(cut -d' ' -f1-3 /proc/loadavg)"
for name in large small; do
  a=$data/$name.zip
  echo
  echo "== test: $name.zip ($(du -h "$a" | cut -f1), $(unzip -Z1 "$a" | wc -l) entries)"
  hyperfine -N --warmup 2 --runs "$runs" --export-json "$out/$name.json" \
    -n zatool "$zatool test -q $a" \
    -n unzip "unzip -tq $a" \
    -n 7zz "7zz t -mmt1 $a" \
    -n bsdtar "bash -c 'bsdtar -xOf $a >/dev/null'" \
    -n python "$py -c '$testzip' $a" >/dev/null
  "$py" "$root/bench/zip_test/ratios.py" "$out/$name.json"
done

echo
echo "== peak RSS: zatool test on one 1 GiB entry"
/usr/bin/time -f "%M" -o "$out/rss" "$zatool" test -q "$data/huge.zip"
echo "zatool test: $(( $(cat "$out/rss") / 1024 )) MB peak RSS (limit 32 MB)"

echo
echo "== compression of large/ at level 6"
hyperfine -N --warmup 1 --runs "$(( runs < 5 ? runs : 5 ))" --export-json "$out/deflate.json" \
  -n zatool "$compress -6 $out/ours.zip $data/large" \
  -n "zip -6" "bash -c 'cd $data/large && rm -f $out/theirs.zip && zip -q -6 -r $out/theirs.zip .'" >/dev/null
"$py" "$root/bench/zip_test/ratios.py" "$out/deflate.json"
echo "sizes: ours $(stat -c %s "$out/ours.zip"), zip -6 $(stat -c %s "$out/theirs.zip")"
unzip -tq "$out/ours.zip"
