#!/usr/bin/env python3
"""Records per second from mdfront through the Python package, against the
library's own rate in C++, in the same run and against the same front.

    PYTHONPATH=build/python python3 python/bench/rates.py [--seconds 5] [--rounds 3]

Each round runs, one after the other, a fresh client of each kind against one
mdfront pushing binary depth records as fast as the socket takes them:
  c++      build/bin/mdlink_count_rate: counts in OnRtnDepthMarketData
  batch    Client.batch(): numpy structured arrays of up to 65536 records
  iterator Client.ticks(): one Depth object per record
and prints the median and range of each, and the ratios to the C++ rate.
Then, Python's side alone: how fast each path empties a queue filled
beforehand.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import mdlink

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_BIN = os.path.join(HERE, "..", "..", "build", "bin")
INSTRUMENTS = ["au2612", "ag2612", "cu2611", "rb2610"]


def start_front(bin_dir):
    proc = subprocess.Popen([os.path.join(bin_dir, "mdfront"), "--port", "0", "--rate", "0",
                             "--form", "binary", "--instruments", ",".join(INSTRUMENTS)],
                            stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    if not line.startswith("mdfront listening on "):
        sys.exit(f"mdfront did not start: {line!r}")
    return proc, "tcp://" + line.split()[-1]


def cpp_rate(bin_dir, address, seconds):
    out = subprocess.run([os.path.join(bin_dir, "mdlink_count_rate"), address, str(seconds),
                          *INSTRUMENTS], check=True, capture_output=True, text=True).stdout
    words = out.split()
    return int(words[1]) / float(words[3])


def python_rate(address, seconds, consume):
    with mdlink.Client(address, broker="9999", user="bench", queue_size=1 << 18) as client:
        client.subscribe(INSTRUMENTS)
        if client.next_tick(timeout=30) is None:
            sys.exit("no depth data from the front")
        start = time.monotonic()
        count = consume(client, start + seconds)
        elapsed = time.monotonic() - start
        return count / elapsed, client.dropped


def consume_batches(client, end):
    n = 0
    while time.monotonic() < end:
        n += len(client.batch(65536, timeout=0.05, min_records=8192))
    return n


def consume_iterator(client, end):
    n = 0
    for tick in client.ticks(timeout=1):
        n += 1
        if not n & 1023 and time.monotonic() >= end:
            break
    return n


def drain_rates(address, records=1 << 17, rounds=3):
    """Python's side alone: records/s taken out of a queue filled beforehand,
    with the front stopped (unsubscribed), best of `rounds`."""
    best = {"batch": 0.0, "iterator": 0.0}
    with mdlink.Client(address, broker="9999", user="bench", queue_size=records) as client:
        for _ in range(rounds):
            for name in best:
                client.subscribe(INSTRUMENTS)
                while client.queued < records:
                    time.sleep(0.01)
                client.unsubscribe(INSTRUMENTS)
                for e in client.events(timeout=5):  # the last answer: nothing more comes
                    if e.kind == "unsubscribed" and e.is_last:
                        break
                start = time.perf_counter()
                n = 0
                if name == "batch":
                    while n < records:
                        n += len(client.batch(65536, timeout=0))
                else:
                    for tick in client.ticks(timeout=0):
                        n += 1
                best[name] = max(best[name], n / (time.perf_counter() - start))
                while client.next_tick(timeout=0) is not None:
                    pass
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--bin", default=os.environ.get("MDLINK_BIN_DIR", DEFAULT_BIN))
    args = parser.parse_args()
    bin_dir = os.path.abspath(args.bin)
    os.chdir(tempfile.mkdtemp(prefix="mdlink-bench-"))  # the clients' log folder
    front, address = start_front(bin_dir)
    rates = {"c++": [], "batch": [], "iterator": []}
    dropped = {"batch": 0, "iterator": 0}
    try:
        for _ in range(args.rounds):
            rates["c++"].append(cpp_rate(bin_dir, address, args.seconds))
            for name, consume in (("batch", consume_batches), ("iterator", consume_iterator)):
                rate, lost = python_rate(address, args.seconds, consume)
                rates[name].append(rate)
                dropped[name] += lost
        drained = drain_rates(address)
    finally:
        front.terminate()
        front.wait()
    cpp = statistics.median(rates["c++"])
    print(f"{args.rounds} rounds of {args.seconds:g} s; load average {os.getloadavg()[0]:.1f}"
          f" on {os.cpu_count()} cores")
    print(f"{'path':10} {'median rec/s':>14} {'range':>23} {'x C++':>7} {'dropped':>9}")
    for name, values in rates.items():
        med = statistics.median(values)
        span = f"{min(values) / 1e6:.2f}-{max(values) / 1e6:.2f} M"
        lost = dropped.get(name, 0)
        print(f"{name:10} {med / 1e6:12.2f} M {span:>23} {med / cpp:7.2f} {lost:9}")
    print("taken from a full queue, the front quiet (best of 3): "
          f"batch {drained['batch'] / 1e6:.1f} M/s, iterator {drained['iterator'] / 1e6:.2f} M/s")


if __name__ == "__main__":
    main()
