#!/usr/bin/env bash
# backup_run against hostile or unlucky trees, one case per call:
#   growing     a file that another process keeps appending to while it is copied
#   unreadable  a source folder the run may not read (as nobody when run by root)
#   link        a link planted in the target where a folder belongs
# usage: hostile_test.sh path/to/backup_run CASE
set -euo pipefail
bin=$(realpath "$1")
case=$2
work=$(mktemp -d)
writer=
cleanup() {
  if [ -n "$writer" ]; then kill "$writer" 2>/dev/null || true; wait "$writer" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
src=$work/src dst=$work/dst
mkdir -p "$src" "$dst" "$work/data"
export XDG_DATA_HOME=$work/data
fail() { echo "FAIL: $*"; exit 1; }

run() {  # expected exit status, then backup_run's arguments; stderr kept in $work/err
  local want=$1 status=0
  shift
  "$@" >/dev/null 2>"$work/err" || status=$?
  [ "$status" -eq "$want" ] || { cat "$work/err"; fail "exit $status, expected $want"; }
}

case $case in
growing)
  head -c $((48 << 20)) /dev/urandom > "$src/growing.bin"
  echo still > "$src/still.txt"
  # The writer appends for as long as it lives and says on a FIFO when it has started.
  mkfifo "$work/ready"
  /usr/bin/python3 -u - "$src/growing.bin" > "$work/ready" <<'PY' &
import os, sys, time
fd = os.open(sys.argv[1], os.O_WRONLY | os.O_APPEND)
block = os.urandom(4096)
os.write(fd, block)
print("go", flush=True)
while True:
    os.write(fd, block)
    time.sleep(0.0002)
PY
  writer=$!
  read -r started < "$work/ready"
  [ "$started" = go ] || fail "the writer did not start"
  run 1 "$bin" "$src" "$dst" '*.*' --subdirs
  grep -q "Le fichier a changé pendant la copie" "$work/err" || fail "no error row for the growing file"
  [ ! -e "$dst/growing.bin" ] || fail "a copy of a file still being written was kept"
  [ "$(cat "$dst/still.txt")" = still ] || fail "the other file was not copied"
  grep -q "Le fichier a changé pendant la copie" "$work/data/Quillomet/"*.log || fail "no log line"
  kill "$writer"; wait "$writer" 2>/dev/null || true; writer=
  run 0 "$bin" "$src" "$dst" '*.*' --subdirs
  cmp "$src/growing.bin" "$dst/growing.bin" || fail "the still file was not copied whole"
  ;;
unreadable)
  mkdir -p "$src/open" "$src/locked"
  echo a > "$src/open/a"; echo b > "$src/locked/b"
  if [ "$(id -u)" -eq 0 ]; then
    # root reads everything: the run goes as nobody, the locked folder stays root's own.
    chmod 755 "$work" "$src" "$src/open"; chmod 644 "$src/open/a"; chmod 700 "$src/locked"
    chown -R nobody "$dst" "$work/data"
    as=(runuser -u nobody --)
  else
    chmod 000 "$src/locked"
    as=()
  fi
  run 1 "${as[@]}" "$bin" "$src" "$dst" '*.*' --subdirs
  chmod 755 "$src/locked"
  grep -q "Impossible de lire le répertoire" "$work/err" || fail "no error row for the locked folder"
  grep -q "Impossible de lire le répertoire" "$work/data/Quillomet/"*.log || fail "no log line"
  grep -q "$src/locked" "$work/data/Quillomet/"*.log || fail "the log line does not name the folder"
  [ "$(cat "$dst/open/a")" = a ] || fail "the readable folder was not copied"
  ;;
link)
  mkdir -p "$src/sub" "$work/elsewhere"
  echo ours > "$src/sub/important.conf"
  echo theirs > "$work/elsewhere/important.conf"
  ln -s "$work/elsewhere" "$dst/sub"
  run 1 "$bin" "$src" "$dst" '*.*' --subdirs
  [ "$(cat "$work/elsewhere/important.conf")" = theirs ] || fail "the run wrote through the planted link"
  [ -L "$dst/sub" ] || fail "the link was removed"
  grep -q "Lien symbolique" "$work/err" || fail "no error row for the link"
  ;;
*) fail "unknown case $case" ;;
esac
echo "$case: ok"
