#!/usr/bin/env python3
"""Generates the benchmark trees (deterministic): about 200 MB of mixed text and binary data
in a few large files, and 20,000 small files in nested folders. Usage: make_data.py OUTDIR"""
import os
import random
import struct
import sys

MB = 1 << 20


def words(rng, n):
    base = ("the of and to in is that for it as was with be by on not he this are or his from at "
            "which but have an they you were her all she there would their we him been has when who "
            "will more no if out so said what up its about into than them can only other new some "
            "could time these two may then do first any my now such like our over man me even most "
            "made after also did many before must through back years where much your way well down "
            "should because each just those people how too little state good very make world still "
            "backup schedule volume archive update folder network computer").split()
    weights = [1.0 / (i + 1) for i in range(len(base))]
    return rng.choices(base, weights, k=n)


def text_file(path, size, seed):
    rng = random.Random(seed)
    with open(path, "w") as f:
        done = 0
        while done < size:
            line = " ".join(words(rng, rng.randint(4, 16))).capitalize() + ".\n"
            f.write(line)
            done += len(line)


def log_file(path, size, seed):
    rng = random.Random(seed)
    levels = ["INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"]
    with open(path, "w") as f:
        done = 0
        t = 1700000000
        while done < size:
            t += rng.randint(0, 3)
            line = "%d [%s] job=%d copied /home/user/docs/file%05d.dat bytes=%d rate=%.2f\n" % (
                t, rng.choice(levels), rng.randint(1, 40), rng.randint(0, 99999),
                rng.randint(0, 1 << 30), rng.random() * 100)
            f.write(line)
            done += len(line)


def table_file(path, size, seed):
    # Records of slowly changing integers and floats: compressible binary.
    rng = random.Random(seed)
    with open(path, "wb") as f:
        a, b = 0, 1000
        chunk = []
        for i in range(size // 16):
            a += rng.randint(0, 3)
            b += rng.randint(-2, 2)
            chunk.append(struct.pack("<IiQ", a, b, (i * 2654435761) & 0xFFFF))
            if len(chunk) == 65536:
                f.write(b"".join(chunk))
                chunk = []
        f.write(b"".join(chunk))


def random_file(path, size, seed):
    rng = random.Random(seed)
    with open(path, "wb") as f:
        for _ in range(size // MB):
            f.write(rng.randbytes(MB))


def mixed_binary(path, size, seed):
    # Runs of random bytes, zeros and repeated structures, as in executables.
    rng = random.Random(seed)
    with open(path, "wb") as f:
        done = 0
        while done < size:
            kind = rng.randint(0, 3)
            n = rng.randint(256, 65536)
            if kind == 0:
                block = rng.randbytes(n)
            elif kind == 1:
                block = bytes(n)
            elif kind == 2:
                unit = rng.randbytes(rng.randint(4, 64))
                block = (unit * (n // len(unit) + 1))[:n]
            else:
                block = " ".join(words(rng, n // 5)).encode()[:n]
            f.write(block)
            done += len(block)


def large(out):
    os.makedirs(out, exist_ok=True)
    text_file(os.path.join(out, "manual.txt"), 60 * MB, 1)
    log_file(os.path.join(out, "journal.log"), 40 * MB, 2)
    table_file(os.path.join(out, "table.bin"), 40 * MB, 3)
    mixed_binary(os.path.join(out, "program.bin"), 40 * MB, 4)
    random_file(os.path.join(out, "random.bin"), 20 * MB, 5)


def small(out):
    rng = random.Random(6)
    for i in range(20000):
        folder = os.path.join(out, "d%02d" % (i % 40), "s%02d" % (i // 40 % 25))
        os.makedirs(folder, exist_ok=True)
        n = int(rng.lognormvariate(7.0, 1.0)) + 1
        path = os.path.join(folder, "f%05d.%s" % (i, rng.choice(["txt", "cfg", "bin"])))
        with open(path, "wb") as f:
            if path.endswith(".bin"):
                f.write(rng.randbytes(n // 2) + bytes(n - n // 2))
            else:
                f.write((" ".join(words(rng, n // 5 + 1)) + "\n").encode()[:n])


def main():
    out = sys.argv[1]
    large(os.path.join(out, "large"))
    small(os.path.join(out, "small"))


if __name__ == "__main__":
    main()
