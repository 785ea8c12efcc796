#!/usr/bin/env bash
# backup_run against hostile or unlucky trees, one case per call:
#   growing     a file that another process appends to during every pass of its copy
#   unreadable  a source folder the run may not read (as nobody when run by root)
#   link        a link planted in the target where a folder belongs
# usage: hostile_test.sh path/to/backup_run CASE
set -euo pipefail
bin=$(realpath "$1")
case=$2
work=$(mktemp -d)
runner=
cleanup() {
  if [ -n "$runner" ]; then kill "$runner" 2>/dev/null || true; wait "$runner" 2>/dev/null || true; fi
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
  # Another process appends to the file in the middle of every pass of its copy: the run holds
  # there until the append is done, so the file changes under each copy whatever the load.
  mkfifo "$work/held" "$work/go"
  status=0
  "$bin" "$src" "$dst" '*.*' --subdirs --hold-in-copy <"$work/go" >"$work/held" 2>"$work/err" &
  runner=$!
  exec 4>"$work/go" 5<"$work/held"
  while read -r line <&5; do
    if [ "$line" = held ]; then
      head -c 4096 /dev/urandom >> "$src/growing.bin"
      echo >&4
    fi
  done
  exec 4>&- 5<&-
  wait "$runner" || status=$?
  runner=
  [ "$status" -eq 1 ] || { cat "$work/err"; fail "exit $status, expected 1"; }
  grep -q "Le fichier a changé pendant la copie" "$work/err" || fail "no error row for the growing file"
  [ ! -e "$dst/growing.bin" ] || fail "a copy of a file still being written was kept"
  [ "$(cat "$dst/still.txt")" = still ] || fail "the other file was not copied"
  grep -q "Le fichier a changé pendant la copie" "$work/data/Quillomet/"*.log || fail "no log line"
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
