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

conditions() {
  echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)," \
    "$(findmnt -no FSTYPE -T "$work") at $work, $(head -1 /proc/pressure/cpu 2>/dev/null | sed 's/^some/CPU pressure/')"
}
conditions
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
# Mean wall time and mean CPU time (user + system, child processes included) of a result.
mean() {
  /usr/bin/python3 -c 'import json,sys; r = json.load(open(sys.argv[1]))["results"][0]; print("%s/%s" % (r["mean"], r["user"] + r["system"]))' "$1"
}
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
(fo, fr, fc, no, nr, to, tr) = [tuple(map(float, a.split("/"))) for a in sys.argv[1:]]
def line(name, ours, peer, peer_name, goal):
    print(f"{name:<22} backup_run {ours[0]:.3f}s, {peer_name} {peer[0]:.3f}s: ratio {ours[0] / peer[0]:.2f}x "
          f"(goal <= {goal}); CPU time {ours[1]:.3f}s / {peer[1]:.3f}s = {ours[1] / peer[1]:.2f}x")
line("full first copy", fo, fr, "rsync -rt", "1.0")
line("full first copy", fo, fc, "cp -r", "1.3")
line("nothing to copy", no, nr, "rsync -rt", "0.5")
line("1% touched", to, tr, "rsync -rt", "0.5")
PY
conditions
echo "all results checked with diff -r and mtimes"
