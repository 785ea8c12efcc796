#!/usr/bin/env bash
# Drives zatool add, rename and delete on a small tree and checks the archive with unzip after
# each step; a missing name changes nothing. Usage: update-check.sh ZATOOL
set -euo pipefail
zatool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p tree/sub tree/empty
printf 'alpha\n' > tree/a.txt
seq 1 5000 > tree/sub/numbers.txt
"$zatool" add -6 arc.zip tree
unzip -tq arc.zip
"$zatool" rename arc.zip tree/sub tree/renamed
"$zatool" delete arc.zip tree/a.txt
unzip -tq arc.zip
[ "$(unzip -Z1 arc.zip | sort | paste -sd' ')" = "tree/ tree/empty/ tree/renamed/ tree/renamed/numbers.txt" ]
[ "$(unzip -p arc.zip tree/renamed/numbers.txt | md5sum)" = "$(seq 1 5000 | md5sum)" ]
before=$(md5sum < arc.zip)
if "$zatool" delete arc.zip tree/missing.txt 2> err.txt; then exit 1; fi
grep -q "aucune entrée de ce nom" err.txt
[ "$(md5sum < arc.zip)" = "$before" ]
echo "update check passed"
