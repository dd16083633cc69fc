#!/usr/bin/env python3
"""How long subscribe() and unsubscribe() of a large universe take, and what
they stall meanwhile: another client's records (the library's one thread
serves every client) and another Python thread (the GIL).

    PYTHONPATH=build/python /usr/bin/python3 python/bench/subscriptions.py \\
        [--ids 20000 40000 1000000] [--bin build/bin]

For each count, against one mdfront: client A, reading one instrument,
subscribes that many ids more and then unsubscribes them; client B meanwhile reads one instrument
the front paces at one record every 2 ms; a Python thread notes the time
every millisecond. Printed per count: the seconds each call took, the
longest gap between two of B's records (their receive_time, set on the
library's thread) and the longest gap of the Python thread, both over the
time from the subscribe to the end of the unsubscribe. Last, the same two
calls on a client that is not logged in (nothing is sent): the package's
own part, without the library's sending.
"""

import argparse
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

import mdlink

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_BIN = os.path.join(HERE, "..", "..", "build", "bin")
PACED = "au2612"


def start_front(bin_dir):
    proc = subprocess.Popen([os.path.join(bin_dir, "mdfront"), "--port", "0", "--rate", "500",
                             "--instruments", PACED], stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    if not line.startswith("mdfront listening on "):
        sys.exit(f"mdfront did not start: {line!r}")
    return proc, "tcp://" + line.split()[-1]


class Ticker(threading.Thread):
    """A Python thread that wakes every millisecond; its longest gap."""

    def __init__(self):
        super().__init__(daemon=True)
        self.stop = threading.Event()
        self.times = []

    def run(self):
        while not self.stop.wait(0.001):
            self.times.append(time.monotonic())

    def longest_gap(self):
        return max((b - a for a, b in zip(self.times, self.times[1:])), default=0.0)


def one_count(address, count):
    ids = [f"x{i:07d}" for i in range(count)]
    login = dict(broker="9999", user="bench")
    with mdlink.Client(address, **login, queue_size=1 << 20) as b, \
            mdlink.Client(address, **login) as a:
        b.subscribe(PACED)
        if b.next_tick(timeout=30) is None:
            sys.exit("no depth data from the front")
        a.subscribe(PACED)  # A's own records come in meanwhile, as a real client's do
        if a.next_tick(timeout=30) is None:
            sys.exit("no depth data from the front")
        ticker = Ticker()
        ticker.start()
        start_ns = time.time_ns()
        t0 = time.monotonic()
        a.subscribe(ids)
        t1 = time.monotonic()
        a.unsubscribe(ids)
        t2 = time.monotonic()
        end_ns = time.time_ns()
        ticker.stop.set()
        ticker.join()
        rows = b.batch(timeout=0, with_time=True)
        times = rows["receive_time"].astype("i8")
        during = times[(times >= start_ns) & (times <= end_ns)]
        gaps = [(y - x) / 1e9 for x, y in zip(during, during[1:])]
        # The gap up to the first record inside the window counts too.
        before = times[times < start_ns]
        if len(before) and len(during):
            gaps.append((during[0] - before[-1]) / 1e9)
        longest = max(gaps, default=float("nan"))
        return t1 - t0, t2 - t1, longest, ticker.longest_gap(), len(during)


def own_part(count):
    """subscribe and unsubscribe seconds on a client that never logs in."""
    ids = [f"x{i:07d}" for i in range(count)]
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        nowhere = f"tcp://127.0.0.1:{s.getsockname()[1]}"
    with mdlink.Client(nowhere) as idle:
        t0 = time.monotonic()
        idle.subscribe(ids)
        t1 = time.monotonic()
        idle.unsubscribe(ids)
        return t1 - t0, time.monotonic() - t1


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--ids", type=int, nargs="+", default=[20000, 40000, 1000000])
    p.add_argument("--bin", default=os.environ.get("MDLINK_BIN_DIR", DEFAULT_BIN))
    args = p.parse_args()
    bin_dir = os.path.abspath(args.bin)
    # The library logs every id it sends to ./KVMDLog: hundreds of MB, removed after.
    work = tempfile.TemporaryDirectory()
    os.chdir(work.name)
    proc, address = start_front(bin_dir)
    try:
        print(f"{'ids':>9} {'subscribe s':>12} {'unsubscribe s':>14} "
              f"{'other client max gap ms':>24} {'Python thread max gap ms':>25} {'records':>8} "
              f"{'not sent: subscribe s':>22} {'unsubscribe s':>14}")
        for count in args.ids:
            sub, unsub, gap, stall, n = one_count(address, count)
            own_sub, own_unsub = own_part(count)
            print(f"{count:>9} {sub:>12.3f} {unsub:>14.3f} {gap * 1e3:>24.1f} "
                  f"{stall * 1e3:>25.1f} {n:>8} {own_sub:>22.3f} {own_unsub:>14.3f}", flush=True)
    finally:
        proc.terminate()
        proc.wait(30)
        work.cleanup()


if __name__ == "__main__":
    main()
