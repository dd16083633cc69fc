#!/usr/bin/python3
"""Draws the latency distribution that `bench_e2e --csv FILE latency` wrote.

usage: bench/plot_latency.py SAMPLES.csv OUT.png

One curve per receiver: the share of frames (y) delivered within a latency
(x, log scale), so that the median and the tail read off the same picture.
Needs Debian's python3-matplotlib.
"""
import csv
import sys
from collections import defaultdict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

SHOWN = [
    ("raw", "raw blocking socket", "black"),
    ("raw-poll", "raw busy-polling, pinned", "grey"),
    ("library", "libmdlink (default)", "tab:blue"),
    ("low-latency", "libmdlink, MDLINK_LOOP_POLL=1", "tab:orange"),
]


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    samples = defaultdict(list)
    with open(argv[1], newline="") as f:
        for row in csv.DictReader(f):
            samples[row["receiver"]].append(float(row["microseconds"]))
    fig, ax = plt.subplots(figsize=(8, 4.5), dpi=100)
    for key, label, colour in SHOWN:
        values = sorted(samples.get(key, []))
        if not values:
            continue
        n = len(values)
        median = values[n // 2]
        ax.plot(values, [(i + 1) / n for i in range(n)], label=f"{label} (p50 {median:.1f} µs)",
                color=colour, linewidth=1.4)
    ax.set_xscale("log")
    ax.set_xlabel("one-way latency, wire to callback (µs, log scale)")
    ax.set_ylabel("share of frames delivered within")
    ax.set_ylim(0, 1.001)
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(loc="lower right")
    ax.set_title("bench_e2e latency: binary depth frames on loopback")
    fig.tight_layout()
    fig.savefig(argv[2])


if __name__ == "__main__":
    main(sys.argv)
