#!/usr/bin/env bash
# Archives whose entries carry fields longer than 16 KB go through zatool list, test, add,
# delete and rename; unzip -t passes each one before and after, and the long comment stays.
# Usage: long-fields-check.sh ZATOOL FIXTURES_DIR
set -euo pipefail
zatool=$1
fixtures=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'added\n' > added.txt
# Name, extra field and comment of the first entry, as Python's zipfile reads them.
first_fields() {
  /usr/bin/python3 -c 'import hashlib, sys, zipfile
i = zipfile.ZipFile(sys.argv[1]).infolist()[0]
print(len(i.filename), len(i.extra), len(i.comment), hashlib.md5(i.filename.encode() + i.extra + i.comment).hexdigest())' arc.zip
}
for name in python-long-comment python-long-fields; do
  cp "$fixtures/$name.zip" arc.zip
  unzip -tq arc.zip
  fields=$(first_fields)
  first=$(unzip -Z1 arc.zip | head -n 1)
  "$zatool" list arc.zip > /dev/null
  "$zatool" test -q arc.zip
  "$zatool" add arc.zip added.txt
  unzip -tq arc.zip
  "$zatool" rename arc.zip added.txt renamed.txt
  unzip -tq arc.zip
  [ "$(first_fields)" = "$fields" ] ||
    { echo "$name: the long fields changed" >&2; exit 1; }
  "$zatool" delete arc.zip "$first"
  unzip -tq arc.zip
  [ "$(unzip -Z1 arc.zip)" = "renamed.txt" ]
  "$zatool" test -q arc.zip
done
echo "long fields check passed"
