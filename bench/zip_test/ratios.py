#!/usr/bin/env python3
"""Prints the mean wall and CPU (user + system) times of a hyperfine JSON export, and the
ratios of the first command (ours) against each peer and against the fastest peer. On a busy
machine the CPU ratio is the steadier figure."""
import json
import sys

results = json.load(open(sys.argv[1]))["results"]


def cpu(r):
    return r["user"] + r["system"]


ours, peers = results[0], results[1:]
for r in results:
    print("  %-8s wall %8.1f ms +- %6.1f   cpu %8.1f ms" % (r["command"], r["mean"] * 1000, r["stddev"] * 1000, cpu(r) * 1000))
for p in peers:
    print("  %s / %s: wall %.2fx, cpu %.2fx" % (ours["command"], p["command"], ours["mean"] / p["mean"], cpu(ours) / cpu(p)))
best = min(peers, key=lambda r: r["mean"])
best_cpu = min(peers, key=cpu)
print("  against the fastest peer: wall %.2fx (%s), cpu %.2fx (%s)" % (
    ours["mean"] / best["mean"], best["command"], cpu(ours) / cpu(best_cpu), best_cpu["command"]))
