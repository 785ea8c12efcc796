#!/usr/bin/python3
"""Time of renaming a folder against deleting the same folder, on archives of growing size.

Writes archives of ENTRIES empty stored files "d<i % 1000>/f<i>" (the generator of
list-memory.py), so the folder d0 holds ENTRIES / 1000 entries, and runs on a fresh copy of
each: zatool rename ARCHIVE d0 e0, then zatool delete ARCHIVE d0. Both rewrite every entry
after the first; the rename should cost about what the delete costs at every size.

Usage: folder-rename.py [--entries N,N,...] [--zatool PATH] [--runs R]
"""
import argparse
import os
import shutil
import sys
import tempfile

sys.dont_write_bytecode = True  # no cache beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from importlib import import_module

listing = import_module("list-memory")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_zatool = os.path.join(os.environ.get("QUILLOMET_BUILD_DIR", os.path.join(here, "..", "..", "build")),
                                  "bin", "zatool")
    parser = argparse.ArgumentParser()
    parser.add_argument("--entries", default="50000,100000,200000")
    parser.add_argument("--zatool", default=default_zatool)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    zatool = os.path.abspath(args.zatool)
    if not os.access(zatool, os.X_OK):
        sys.exit(f"missing {zatool}: build first (bash scripts/build.sh)")
    print("entries  in d0   rename d0   delete d0   ratio (best of %d runs)" % args.runs)
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "source.zip")
        arc = os.path.join(work, "arc.zip")
        for n in (int(x) for x in args.entries.split(",")):
            listing.write_archive(source, n)
            best = {}
            for name, command in (("rename", ["rename", arc, "d0", "e0"]), ("delete", ["delete", arc, "d0"])):
                for _ in range(args.runs):
                    shutil.copyfile(source, arc)
                    _, seconds, status = listing.measure([zatool] + command, work)
                    if status != 0:
                        sys.exit(f"zatool {name} on {n} entries: exit status {status}")
                    best[name] = min(best.get(name, seconds), seconds)
            print(f"{n:7d}  {n // 1000:5d}  {best['rename']:8.2f} s  {best['delete']:8.2f} s  "
                  f"x{best['rename'] / max(best['delete'], 0.005):5.2f}")


if __name__ == "__main__":
    main()
