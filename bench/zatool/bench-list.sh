#!/usr/bin/env bash
# Lists a large archive with zatool and with the peers (unzip -l, 7zz l, python3's zipfile),
# then the same archive cut before its directory, which zatool rebuilds from the local headers
# (no peer lists such a file; the ratio is to zatool's listing of the whole archive).
# Prints each time and its ratio to the first command of its group. Usage: bench-list.sh [ENTRIES] (default 100000).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUILLOMET_BUILD_DIR:-$root/build}
zatool="$build/bin/zatool"
[ -x "$zatool" ] || { echo "build zatool first: bash scripts/build.sh" >&2; exit 1; }
entries=${1:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work" "$entries" <<'PY'
import sys, zipfile
work, n = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(f"{work}/big.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(n):
        z.writestr(f"folder{i % 100}/file-{i}.txt", f"entry {i}\n" * 3)
data = open(f"{work}/big.zip", "rb").read()
first = data.find(b"PK\x01\x02")
open(f"{work}/nodir.zip", "wb").write(data[:first])
PY
run() { hyperfine --style none --warmup 1 --runs "${RUNS:-5}" --export-json "$work/$1.json" "${@:2}" >/dev/null; }
run listing "$zatool list $work/big.zip" "unzip -l $work/big.zip" "7zz l $work/big.zip" \
  "/usr/bin/python3 -m zipfile -l $work/big.zip"
run rebuild "$zatool list $work/big.zip" "$zatool list $work/nodir.zip"
/usr/bin/python3 - "$work" "$entries" <<'PY'
import json, sys
work, n = sys.argv[1], sys.argv[2]
for name, title in (("listing", f"listing {n} entries"), ("rebuild", f"{n} entries without directory")):
    results = json.load(open(f"{work}/{name}.json"))["results"]
    base = results[0]["mean"]
    print(title)
    for r in results:
        print(f"  {r['mean'] * 1000:9.1f} ms  x{r['mean'] / base:6.2f}  {r['command'].replace(work + '/', '')}")
PY
