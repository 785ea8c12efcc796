#!/usr/bin/env bash
# Builds everything, then runs every test; exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
build=${QUILLOMET_BUILD_DIR:-$root/build}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600

# Second build: the archive engine and its tests under ASan/UBSan (clang), then a short fuzz
# run of the directory reader from the committed archives. QUILLOMET_FUZZ_SECONDS=0 skips it.
# Inputs reach 256 KB: an entry's name, extra field and comment may each be 65,535 bytes.
asan=${QUILLOMET_ASAN_DIR:-$root/build-asan}
cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQUILLOMET_BUILD_GUI=OFF -DQUILLOMET_BUILD_BENCH=OFF \
  -DQUILLOMET_SANITIZE=ON -DQUILLOMET_FUZZ=ON >/dev/null
cmake --build "$asan" -j "$(nproc)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$asan" --output-on-failure -j "$(nproc)" --timeout 600

seconds=${QUILLOMET_FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  corpus=$(mktemp -d)
  trap 'rm -rf "$corpus"' EXIT
  cp "$root"/tests/fixtures/zip/*.zip "$root"/tests/fixtures/zip/*.z01 "$corpus"/
  mkdir -p "$asan/fuzz-artifacts"
  echo "Fuzzing the directory reader for ${seconds} s"
  log="$asan/fuzz.log"
  status=0
  "$asan/bin/zadir_fuzz" -max_total_time="$seconds" -max_len=262144 -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$asan/fuzz-artifacts/" \
    "$corpus" >"$log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|#[0-9]+ +DONE)' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "Fuzz run failed (status $status); the input is in $asan/fuzz-artifacts/" >&2
    exit 1
  fi
  # A directory of 1,000,000 entries goes through the target within its own allocation limit.
  /usr/bin/python3 "$root/bench/zatool/list-memory.py" --entries 1000000 --write "$corpus/million.zip"
  "$asan/bin/zadir_fuzz" -malloc_limit_mb=256 -rss_limit_mb=2048 -timeout=600 "$corpus/million.zip" >"$log" 2>&1 ||
    { tail -n 30 "$log" >&2; echo "The directory reader failed on 1,000,000 entries" >&2; exit 1; }
fi
