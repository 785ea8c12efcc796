#!/usr/bin/env bash
# Backup benchmark: backup_run against rsync -rt and cp -r --preserve=timestamps on a generated
# tree (about 20,000 files of 0-64 KiB in 1,000 folders, plus a few files of 200 MB), same file
# system, warm cache, no dirty pages left when a timed run starts. Prints the three ratios measured in this run; every result is checked
# with diff -r and a comparison of mtimes.
# usage: backup_bench.sh path/to/backup_run [WORKDIR]   (RUNS=3 by default)
set -euo pipefail
bin=$(realpath "$1")
work=${2:-$(mktemp -d -p "${TMPDIR:-/var/tmp}")}
runs=${RUNS:-3}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
src=$work/src
export XDG_DATA_HOME=$work/data
for tool in hyperfine rsync; do
  command -v $tool >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)"; exit 1; }
done

echo "generating the tree in $work ..."
/usr/bin/python3 - "$src" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(11)
pool = random.randbytes(1 << 20)
for d in range(1000):
    folder = os.path.join(root, f"g{d // 40:02}", f"d{d:04}")
    os.makedirs(folder, exist_ok=True)
    for f in range(20):
        size = random.randint(0, 64 * 1024)
        start = random.randint(0, len(pool) - size)
        with open(os.path.join(folder, f"f{f:02}.dat"), "wb") as out:
            out.write(pool[start:start + size])
for i in range(3):
    with open(os.path.join(root, f"large{i}.bin"), "wb") as out:
        for _ in range(200):
            out.write(random.randbytes(1 << 20))
PY
find "$src" -type f | shuf -n 200 --random-source=<(yes) > "$work/touched"
cat "$src"/large*.bin > /dev/null
sync

ours="$bin $src $work/ours '*.*' --subdirs"
rsync_cmd="rsync -rt $src/ $work/rsync/"
cp_cmd="cp -r --preserve=timestamps $src/. $work/cp/"

listing() { (cd "$1" && find . -type f -printf '%p %s %TY%Tm%Td%TH%TM%TS\n' | sed 's/\.[0-9]*$//' | sort); }
check() {
  diff -r "$src" "$1" >/dev/null || { echo "contents differ in $1"; exit 1; }
  diff <(listing "$src") <(listing "$1") >/dev/null || { echo "mtimes differ in $1"; exit 1; }
}
mean() { /usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"])' "$1"; }
measure() {  # name, prepare, command
  # Every run starts with no dirty data left by the one before (sync is not timed).
  hyperfine --style none --runs "$runs" --warmup 1 --prepare "$2; sync" --export-json "$work/$1.json" "$3" >/dev/null
  mean "$work/$1.json"
}

echo "full first copy ..."
full_ours=$(measure full_ours "rm -rf $work/ours; mkdir $work/ours" "$ours")
full_rsync=$(measure full_rsync "rm -rf $work/rsync; mkdir $work/rsync" "$rsync_cmd")
full_cp=$(measure full_cp "rm -rf $work/cp; mkdir $work/cp" "$cp_cmd")
check "$work/ours"; check "$work/rsync"; check "$work/cp"

echo "rerun with nothing to copy ..."
none_ours=$(measure none_ours "true" "$ours")
none_rsync=$(measure none_rsync "true" "$rsync_cmd")
check "$work/ours"

echo "rerun after touching 1% of the files ..."
echo $(( $(date +%s) + 1000 )) > "$work/stamp"
# Each run moves the touched files a whole DOS two-second step (and more) later.
prep="bash -c 't=\$((\$(cat $work/stamp) + 10)); echo \$t > $work/stamp; xargs -d \"\\n\" touch -d @\$t < $work/touched'"
touch_ours=$(measure touch_ours "$prep" "$ours")
touch_rsync=$(measure touch_rsync "$prep" "$rsync_cmd")
eval "$ours" >/dev/null; eval "$rsync_cmd"
check "$work/ours"; check "$work/rsync"

/usr/bin/python3 - "$full_ours" "$full_rsync" "$full_cp" "$none_ours" "$none_rsync" "$touch_ours" "$touch_rsync" <<'PY'
import sys
fo, fr, fc, no, nr, to, tr = map(float, sys.argv[1:])
print(f"full first copy:      backup_run {fo:.3f}s  rsync {fr:.3f}s  cp {fc:.3f}s")
print(f"  ratio vs rsync -rt: {fo / fr:.2f}x (goal <= 1.0)")
print(f"  ratio vs cp -r:     {fo / fc:.2f}x (goal <= 1.3)")
print(f"nothing to copy:      backup_run {no:.3f}s  rsync {nr:.3f}s  ratio {no / nr:.2f}x (goal <= 0.5)")
print(f"1% touched:           backup_run {to:.3f}s  rsync {tr:.3f}s  ratio {to / tr:.2f}x (goal <= 0.5)")
PY
echo "all results checked with diff -r and mtimes"
