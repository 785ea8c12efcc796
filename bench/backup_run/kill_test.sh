#!/usr/bin/env bash
# Kills backup_run jobs with SIGKILL at random moments until KILLS (default 25) of them died
# by it, then lets one run finish: the target must then equal the source (contents and mtimes)
# with no temp file left.
# usage: kill_test.sh path/to/backup_run [WORKDIR]
set -euo pipefail
bin=$1
work=${2:-$(mktemp -d)}
kills=${KILLS:-25}
trap 'rm -rf "$work"' EXIT
src=$work/src dst=$work/dst
mkdir -p "$src" "$dst"
export XDG_DATA_HOME=$work/data

/usr/bin/python3 - "$src" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(7)
for d in range(40):
    folder = os.path.join(root, f"d{d:02}", f"s{d % 5}")
    os.makedirs(folder, exist_ok=True)
    for f in range(25):
        with open(os.path.join(folder, f"f{f:02}.bin"), "wb") as out:
            out.write(random.randbytes(random.randint(0, 48 * 1024)))
for i in range(4):
    with open(os.path.join(root, f"big{i}.bin"), "wb") as out:
        out.write(random.randbytes(24 * 1024 * 1024))
PY

killed=0
rounds=0
base=$(( $(date +%s) + 1000 ))
# Rounds go on until KILLS runs were killed while still going (a run may end first).
while [ "$killed" -lt "$kills" ] && [ "$rounds" -lt $((kills * 8)) ]; do
  rounds=$((rounds + 1))
  i=$rounds
  # A later mtime (a whole DOS two-second step on) on some files each round, so every round
  # has copies to cut short.
  stamp=@$((base + 4 * i))
  find "$src" -name 'f0[0-4].bin' -path "*d$(printf %02d $((i % 40)))*" -exec touch -d "$stamp" {} +
  touch -d "$stamp" "$src/big$((i % 4)).bin" "$src/big$(((i + 1) % 4)).bin"
  "$bin" "$src" "$dst" '*.*' --subdirs >/dev/null 2>&1 &
  pid=$!
  sleep "0.$(printf %03d $((RANDOM % 40)))"
  kill -KILL "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
  # 137: ended by the SIGKILL, not by finishing first.
  if [ "$status" -eq 137 ]; then killed=$((killed + 1)); fi
done

cut=$(find "$dst" -name '.quillomet-*.part' | wc -l)
"$bin" "$src" "$dst" '*.*' --subdirs >/dev/null
diff -r "$src" "$dst" | head -20; [ "${PIPESTATUS[0]}" -eq 0 ]
listing() { (cd "$1" && find . -type f -printf '%p %s %TY%Tm%Td%TH%TM%TS\n' | sed 's/\.[0-9]*$//' | sort); }
diff <(listing "$src") <(listing "$dst") | head -20; [ "${PIPESTATUS[0]}" -eq 0 ]
left=$(find "$dst" -name '.quillomet-*.part' | wc -l)
if [ "$left" -ne 0 ]; then echo "temp files left: $left"; exit 1; fi
echo "target equals source after $killed kills in $rounds rounds ($cut cut copies were left as temp files)"
if [ "$killed" -lt "$kills" ]; then echo "too few runs were still going when killed"; exit 1; fi
