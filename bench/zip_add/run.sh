#!/usr/bin/env bash
# Benchmark of the write side: `zatool add -6` of the mixed benchmark trees (about 200 MB: a
# few large files and 20,000 small ones) against `zip -6 -r`, time and size in the same run;
# then one small file appended to a 1 GB archive, with the bytes written (the process's
# file-system output) and the time, against `zip` doing the same.
# Usage: bench/zip_add/run.sh [BUILD_DIR]   (data is generated once into BUILD_DIR/bench-data)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
data=$build/bench-data/zip_test
zatool=$build/bin/zatool
py=/usr/bin/python3
runs=${BENCH_RUNS:-5}
[ -x "$zatool" ] || { echo "missing $zatool: build first (bash scripts/build.sh)" >&2; exit 1; }
for tool in zip unzip hyperfine /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done
bash "$root/bench/zip_test/make_archives.sh" "$data"
out=$(mktemp -d "$build/zip_add.XXXXXX")
trap 'rm -rf "$out"' EXIT

echo "machine: $(nproc) cores, $(awk '/model name/ {sub(/.*: /, ""); print; exit}' /proc/cpuinfo), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== add large/ and small/ at level 6 ($(du -sh --apparent-size "$data/large" "$data/small" | awk '{print $1}' | paste -sd+) of data)"
hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/add.json" \
  --prepare "rm -f $out/ours.zip $out/theirs.zip" \
  -n "zatool add" "bash -c 'cd $data && $zatool add -6 $out/ours.zip large small >/dev/null'" \
  -n "zip -6 -r" "bash -c 'cd $data && zip -q -6 -r $out/theirs.zip large small'" >/dev/null
"$py" "$root/bench/zip_test/ratios.py" "$out/add.json"
(cd "$data" && rm -f "$out/ours.zip" "$out/theirs.zip" && "$zatool" add -6 "$out/ours.zip" large small >/dev/null &&
  zip -q -6 -r "$out/theirs.zip" large small)
ours=$(stat -c %s "$out/ours.zip")
theirs=$(stat -c %s "$out/theirs.zip")
unzip -tq "$out/ours.zip" >/dev/null
echo "  sizes: zatool add $ours, zip -6 $theirs: $(awk -v a="$ours" -v b="$theirs" 'BEGIN {printf "%.3f", a / b}')x"
rm -f "$out/ours.zip" "$out/theirs.zip"

echo
echo "== append one small file to a 1 GB archive"
mkdir -p "$out/big"
head -c $((1 << 30)) /dev/urandom > "$out/big/one.bin"
(cd "$out/big" && "$zatool" add -0 "$out/big.zip" one.bin >/dev/null)
rm -f "$out/big/one.bin"
cp "$out/big.zip" "$out/big-zip.zip"
printf 'a small file appended\n' > "$out/small.txt"
cd "$out"
# File-system output of the process (512-byte blocks, as the kernel counts what it dirtied).
/usr/bin/time -f "%O %e" -o "$out/ours.io" "$zatool" add big.zip small.txt >/dev/null
/usr/bin/time -f "%O %e" -o "$out/theirs.io" zip -q big-zip.zip small.txt
read -r ob ot < "$out/ours.io"
read -r zb zt < "$out/theirs.io"
unzip -tq big.zip >/dev/null
echo "  zatool add: $((ob * 512)) bytes written in ${ot} s (limit 1 MB)"
echo "  zip:        $((zb * 512)) bytes written in ${zt} s"
[ $((ob * 512)) -lt $((1 << 20)) ] || { echo "appending wrote 1 MB or more" >&2; exit 1; }
