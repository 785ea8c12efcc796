#!/usr/bin/env bash
# Makes the benchmark trees (once) and their archives by Info-ZIP zip at its default level.
# Usage: bench/zip_test/make_archives.sh DATA_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
data=$1
mkdir -p "$data"
if [ ! -d "$data/large" ] || [ ! -d "$data/small" ]; then
  echo "generating data into $data"
  rm -rf "$data/large" "$data/small"
  /usr/bin/python3 "$root/bench/zip_test/make_data.py" "$data"
fi
for name in large small; do
  [ -f "$data/$name.zip" ] || (cd "$data/$name" && zip -q -r "$data/$name.zip" .)
done
