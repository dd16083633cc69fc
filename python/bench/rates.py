#!/usr/bin/env python3
"""Records per second from mdfront through the Python package, against the
library's own rate in C++, in the same run and against the same front; and
the latency from the library's callback to Python code.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/rates.py [--seconds 5] [--rounds 3]

Each round runs, one after the other, a fresh client of each kind against one
mdfront pushing binary depth records as fast as the socket takes them:
  c++      build/bin/mdlink_count_rate: counts in OnRtnDepthMarketData
  batch    Client.batch(): numpy structured arrays of up to 65536 records
  iterator Client.ticks(): one Depth object per record
  async    Client.aticks() in an asyncio loop: one Depth object per record
and prints the median and range of each, and the ratios to the C++ rate.
Then, Python's side alone: how fast each path empties a queue filled
beforehand. Last, against a front pacing one instrument at --latency-rate
records a second, how long after the library's callback (the record's
receive_time) Python code holds each record, pulled (ticks()), awaited
(aticks()) and pushed (Handler.on_depth): p50 and p99 over every round.
"""

import argparse
import asyncio
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


def start_front(bin_dir, rate=0, instruments=INSTRUMENTS):
    proc = subprocess.Popen([os.path.join(bin_dir, "mdfront"), "--port", "0", "--rate", str(rate),
                             "--form", "binary", "--instruments", ",".join(instruments)],
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


def consume_async(client, end):
    async def count():
        n = 0
        async for tick in client.aticks(timeout=1):
            n += 1
            if not n & 1023 and time.monotonic() >= end:
                break
        return n
    return asyncio.run(count())


async def _drain_async(client):
    n = 0
    async for tick in client.aticks(timeout=0):
        n += 1
    return n


def latencies(address, seconds):
    """Microseconds from the library's callback to Python code, per path."""
    found = {}
    with mdlink.Client(address, broker="9999", user="bench") as client:
        client.subscribe(INSTRUMENTS[:1])
        client.next_tick(timeout=30)
        end = time.monotonic() + seconds
        found["pull"] = [(time.time_ns() - t.receive_time) / 1e3 for t in
                         _until(client.ticks(timeout=5), end)]

        async def awaited():
            out = []
            async for t in client.aticks(timeout=5):
                out.append((time.time_ns() - t.receive_time) / 1e3)
                if time.monotonic() >= end:
                    return out
            return out
        end = time.monotonic() + seconds
        found["async"] = asyncio.run(awaited())

    class Pushed(mdlink.Handler):
        samples = []

        def on_depth(self, tick):
            self.samples.append((time.time_ns() - tick.receive_time) / 1e3)
    with mdlink.Client(address, broker="9999", user="bench", handler=Pushed()) as client:
        client.subscribe(INSTRUMENTS[:1])
        time.sleep(seconds)
    found["push"] = Pushed.samples[1:]
    return found


def _until(ticks, end):
    for t in ticks:
        yield t
        if time.monotonic() >= end:
            return


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * len(values)))]


def drain_rates(address, records=1 << 17, rounds=3):
    """Python's side alone: records/s taken out of a queue filled beforehand,
    with the front stopped (unsubscribed), best of `rounds`."""
    best = {"batch": 0.0, "iterator": 0.0, "async": 0.0}
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
                elif name == "async":
                    n = asyncio.run(_drain_async(client))
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
    parser.add_argument("--latency-rate", type=int, default=1000,
                        help="records a second of the paced front (latency)")
    parser.add_argument("--bin", default=os.environ.get("MDLINK_BIN_DIR", DEFAULT_BIN))
    args = parser.parse_args()
    bin_dir = os.path.abspath(args.bin)
    os.chdir(tempfile.mkdtemp(prefix="mdlink-bench-"))  # the clients' log folder
    front, address = start_front(bin_dir)
    paced, paced_address = start_front(bin_dir, args.latency_rate, INSTRUMENTS[:1])
    paths = (("batch", consume_batches), ("iterator", consume_iterator), ("async", consume_async))
    rates = {"c++": [], **{name: [] for name, _ in paths}}
    dropped = {name: 0 for name, _ in paths}
    delays = {}
    try:
        for _ in range(args.rounds):
            rates["c++"].append(cpp_rate(bin_dir, address, args.seconds))
            for name, consume in paths:
                rate, lost = python_rate(address, args.seconds, consume)
                rates[name].append(rate)
                dropped[name] += lost
            for name, values in latencies(paced_address, args.seconds).items():
                delays.setdefault(name, []).extend(values)
        drained = drain_rates(address)
    finally:
        for proc in (front, paced):
            proc.terminate()
            proc.wait()
    cpp = statistics.median(rates["c++"])
    print(f"{args.rounds} rounds of {args.seconds:g} s; load average {os.getloadavg()[0]:.1f}"
          f" on {os.cpu_count()} cores")
    print(f"{'path':10} {'median rec/s':>14} {'range':>23} {'x C++':>7} {'dropped':>9}")
    for name, values in rates.items():
        med = statistics.median(values)
        span = f"{min(values) / 1e6:.2f}-{max(values) / 1e6:.2f} M"
        lost = dropped.get(name, 0)
        print(f"{name:10} {med / 1e6:12.2f} M {span:>23} {med / cpp:7.2f} {lost:9}")
    print("taken from a full queue, the front quiet (best of 3): " +
          ", ".join(f"{name} {rate / 1e6:.2f} M/s" for name, rate in drained.items()))
    print(f"callback to Python code, {args.latency_rate} records/s: " +
          ", ".join(f"{name} p50 {percentile(v, 50):.1f} us p99 {percentile(v, 99):.1f} us "
                    f"({len(v)} records)" for name, v in delays.items()))


if __name__ == "__main__":
    main()
