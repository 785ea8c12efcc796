#!/usr/bin/env python3
"""Benchmark trees when bench/zip_test's generator is absent (deterministic): large/ holds four
files of about 40 MB (text, log lines, compressible binary, random bytes), small/ 20,000 files of
0.5-8 KB in 200 folders. Usage: make_data.py OUTDIR"""
import os
import random
import sys

out = sys.argv[1]
rng = random.Random(2026)
words = ("backup schedule volume archive update folder network computer the of and to in is that "
         "for it as was with be by on not this are or from at which but have an they you").split()


def text(n):
    parts, size = [], 0
    while size < n:
        line = " ".join(rng.choices(words, k=rng.randint(4, 14))) + ".\n"
        parts.append(line)
        size += len(line)
    return "".join(parts)[:n].encode()


large = os.path.join(out, "large")
os.makedirs(large, exist_ok=True)
mb = 1 << 20
with open(os.path.join(large, "words.txt"), "wb") as f:
    f.write(text(40 * mb))
with open(os.path.join(large, "events.log"), "wb") as f:
    t = 1700000000
    lines = []
    for i in range(500000):
        t += rng.randint(0, 3)
        lines.append("%d [INFO] job=%d copied file%05d.dat bytes=%d\n" % (t, rng.randint(1, 40), i % 99991,
                                                                          rng.randint(0, 1 << 30)))
    f.write("".join(lines).encode())
with open(os.path.join(large, "table.bin"), "wb") as f:
    v = 0
    f.write(bytes((v := (v + rng.randint(0, 3))) & 0xFF for _ in range(40 * mb // 4)) * 4)
with open(os.path.join(large, "random.bin"), "wb") as f:
    f.write(rng.randbytes(40 * mb))

small = os.path.join(out, "small")
for d in range(200):
    folder = os.path.join(small, "d%03d" % (d // 20), "s%03d" % d)
    os.makedirs(folder, exist_ok=True)
    for i in range(100):
        with open(os.path.join(folder, "f%03d.txt" % i), "wb") as f:
            f.write(text(rng.randint(512, 8192)))
