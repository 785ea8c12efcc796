#!/usr/bin/python3
"""Peak memory and time of commits on a large archive: zatool add, delete and rename.

Writes an archive of ENTRIES empty stored files (the generator of list-memory.py), and the
same local headers without their directory (rebuilt from the headers when opened), then
runs each change once on a fresh copy of each and prints its peak resident set (MB of 10^6
bytes) and time. The change touches the first entry, so that every entry after it moves.
--max-mb fails the run when a peak is above it.

Usage: commit-memory.py [--entries N] [--zatool PATH] [--max-mb M]
"""
import os
import shutil
import sys
import tempfile

sys.dont_write_bytecode = True  # no cache beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from importlib import import_module

listing = import_module("list-memory")


def main():
    parser = listing.arguments()
    args = parser.parse_args()
    args.zatool = os.path.abspath(args.zatool)
    if not os.access(args.zatool, os.X_OK):
        sys.exit(f"missing {args.zatool}: build first (bash scripts/build.sh)")
    with tempfile.TemporaryDirectory() as work:
        whole = os.path.join(work, "whole.zip")
        listing.write_archive(whole, args.entries)
        with open(whole, "rb") as f:
            data = f.read()
        headers = os.path.join(work, "headers.zip")
        with open(headers, "wb") as f:
            f.write(data[:data.find(b"PK\x01\x02")])
        del data
        added = os.path.join(work, "added.txt")
        with open(added, "w") as f:
            f.write("added\n")
        arc = os.path.join(work, "arc.zip")
        changes = [("add", ["add", arc, "added.txt"]), ("delete", ["delete", arc, "d0/f0"]),
                   ("rename", ["rename", arc, "d0/f0", "d0/g0"])]
        print(f"commits on {args.entries:,} entries: peak resident set, time")
        failed = []
        cwd = os.getcwd()
        os.chdir(work)
        try:
            for source, title in ((whole, "with its directory"), (headers, "no end record")):
                for name, command in changes:
                    shutil.copyfile(source, arc)
                    peak, seconds, status = listing.measure([args.zatool] + command, work)
                    note = "" if status == 0 else f"  (exit status {status})"
                    print(f"  {peak / 1e6:8.1f} MB  {seconds:6.2f} s  {name}, {title}{note}")
                    if status != 0 or (args.max_mb and peak > args.max_mb * 1e6):
                        failed.append(f"{name}, {title}: {peak / 1e6:.1f} MB, status {status}")
        finally:
            os.chdir(cwd)
    if failed:
        sys.exit("commits above the limit or failed: " + "; ".join(failed))


if __name__ == "__main__":
    main()
