#!/usr/bin/python3
"""Peak memory of listing a large archive: zatool list against its peers, same run.

Writes an archive of ENTRIES empty stored files (default 1,000,000; short names, no extra
fields, as a plain zip tool makes them), lists it with each command once, and prints each
one's peak resident set (MB of 10^6 bytes) and time. zatool's bytes per entry are its peak less its peak on an
empty archive, over the entry count. --max-mb fails the run when zatool's peak is above it.

Usage: list-memory.py [--entries N] [--zatool PATH] [--peers unzip,7zz,bsdtar|none] [--max-mb M]
       list-memory.py --entries N --write ARCHIVE    (only writes the archive)
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib


def write_archive(path, n):
    """n empty stored entries "d<i % 1000>/f<i>", with the Zip64 end records from 65535 on."""
    crc = zlib.crc32(b"")
    local, central = bytearray(), bytearray()
    offset = 0
    for i in range(n):
        name = b"d%d/f%d" % (i % 1000, i)
        header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, 0x6000, 0x5821, crc, 0, 0, len(name), 0)
        local += header + name
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 10, 0, 0, 0x6000, 0x5821, crc, 0, 0,
                               len(name), 0, 0, 0, 0, 0o100644 << 16, offset) + name
        offset += len(header) + len(name)
    with open(path, "wb") as f:
        f.write(local)
        f.write(central)
        if n >= 0xFFFF:
            zip64_at = offset + len(central)
            f.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, n, n, len(central), offset))
            f.write(struct.pack("<IIQI", 0x07064B50, 0, zip64_at, 1))
        count = min(n, 0xFFFF)
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, min(len(central), 0xFFFFFFFF),
                            min(offset, 0xFFFFFFFF), 0))


def measure(command, work):
    """(peak resident set in bytes, seconds, exit status) of one run, output discarded.

    The figures come from /usr/bin/time, whose child starts small: a child forked from this
    script would count the script's own memory as its peak."""
    report = os.path.join(work, "time.txt")
    status = subprocess.call(["/usr/bin/time", "-q", "-f", "%M %e", "-o", report] + command,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(report) as f:
        kib, seconds = f.read().split()[-2:]
    return int(kib) * 1024, float(seconds), status


def arguments():
    """The options every memory check shares: --entries, --zatool, --max-mb."""
    here = os.path.dirname(os.path.abspath(__file__))
    default_zatool = os.path.join(os.environ.get("QUILLOMET_BUILD_DIR", os.path.join(here, "..", "..", "build")),
                                  "bin", "zatool")
    parser = argparse.ArgumentParser()
    parser.add_argument("--entries", type=int, default=1_000_000)
    parser.add_argument("--zatool", default=default_zatool)
    parser.add_argument("--max-mb", type=float, default=0)
    return parser


def main():
    parser = arguments()
    parser.add_argument("--peers", default="unzip,7zz,bsdtar")
    parser.add_argument("--write")
    args = parser.parse_args()
    if args.write:
        write_archive(args.write, args.entries)
        return
    if not os.access(args.zatool, os.X_OK):
        sys.exit(f"missing {args.zatool}: build first (bash scripts/build.sh)")
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("missing /usr/bin/time: run scripts/install-deps.sh")
    peers = {"unzip": ["unzip", "-l"], "7zz": ["7zz", "l"], "bsdtar": ["bsdtar", "-tvf"]}
    chosen = [] if args.peers == "none" else [p for p in args.peers.split(",") if p]
    for p in chosen:
        if p not in peers:
            sys.exit(f"unknown peer {p}")

    with tempfile.TemporaryDirectory() as work:
        big, empty = os.path.join(work, "big.zip"), os.path.join(work, "empty.zip")
        write_archive(big, args.entries)
        write_archive(empty, 0)
        base, _, status = measure([args.zatool, "list", empty], work)
        if status != 0:
            sys.exit(f"zatool list failed on an empty archive (status {status})")
        runs = [("zatool list", [args.zatool, "list", big])]
        for p in chosen:
            if shutil.which(peers[p][0]):
                runs.append((" ".join(peers[p]), peers[p] + [big]))
            else:
                print(f"  ({p} not installed: skipped)")
        size_mb = os.path.getsize(big) / 1e6
        print(f"listing {args.entries:,} entries ({size_mb:.0f} MB archive): peak resident set, time")
        results = []
        for title, command in runs:
            peak, seconds, status = measure(command, work)
            results.append((title, peak, seconds, status))
        zatool_peak = results[0][1]
        for title, peak, seconds, status in results:
            note = "" if status == 0 else f"  (exit status {status})"
            print(f"  {peak / 1e6:8.1f} MB  x{peak / zatool_peak:5.2f}  {seconds:6.2f} s  {title}{note}")
        per_entry = (zatool_peak - base) / max(args.entries, 1)
        print(f"  zatool: {per_entry:.0f} bytes per entry above its {base / 1e6:.1f} MB on an empty archive")
        if results[0][3] != 0:
            sys.exit(f"zatool list failed (status {results[0][3]})")
        if args.max_mb and zatool_peak > args.max_mb * 1e6:
            sys.exit(f"zatool list peaked at {zatool_peak / 1e6:.1f} MB, above {args.max_mb:g} MB")


if __name__ == "__main__":
    main()
