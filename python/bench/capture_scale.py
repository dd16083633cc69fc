"""Capture files at a whole market's scale, not run in CI.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/capture_scale.py day --dir /var/tmp/day
    PYTHONPATH=build/python /usr/bin/python3 python/bench/capture_scale.py dask --dir /var/tmp/days

day: a synthetic trading day (--records, default 37 M, of --instruments,
default 800, spread over 6.5 hours) written in chunks of a million with
mdlink.write_capture, then read back through iter_capture, so that no more
than a chunk is ever in memory; prints sizes and times.
dask: --files day files of --per-file records (default 8 of 2 M), read by
mdlink.dask.read_captures on a LocalCluster of 1 and of 2 worker processes.
The records are synthetic: prices are noise around a level, not a walk, so
they compress worse than a real feed's."""

import argparse
import os
import time

import numpy as np

import mdlink

DAY_SECONDS = 6.5 * 3600
CHUNK = 1_000_000
CLOCK = np.array([f"{s // 3600:02d}:{s // 60 % 60:02d}:{s % 60:02d}".encode() for s in range(86400)])


def chunk(first, count, total, instruments, day, rng):
    """Records first..first+count of a day of `total` over `instruments`."""
    a = np.zeros(count, dtype=mdlink.depth_dtype(with_time=True))
    which = rng.integers(0, instruments, count)
    ids = np.array([f"i{k:03d}2612".encode() for k in range(instruments)])
    base = 1000.0 + which * 7.0
    last = base + rng.integers(-50, 51, count) * 0.2
    a["TradingDay"], a["ActionDay"], a["ExchangeID"] = day, day, b"SHFE"
    a["InstrumentID"] = a["ExchangeInstID"] = ids[which]
    a["LastPrice"] = last
    a["PreSettlementPrice"] = a["PreClosePrice"] = a["OpenPrice"] = base
    a["UpperLimitPrice"], a["LowerLimitPrice"] = base * 1.1, base * 0.9
    a["SettlementPrice"] = a["ClosePrice"] = a["PreDelta"] = a["CurrDelta"] = 1.7976931348623157e308
    a["Volume"] = (first + np.arange(count)) // instruments
    a["Turnover"] = a["Volume"] * base
    for level in range(1, 6):
        a[f"BidPrice{level}"] = last - level * 0.2
        a[f"AskPrice{level}"] = last + level * 0.2
        a[f"BidVolume{level}"] = rng.integers(1, 200, count)
        a[f"AskVolume{level}"] = rng.integers(1, 200, count)
    ns = ((first + np.arange(count)) * (DAY_SECONDS * 1e9 / total)).astype(np.int64)
    seconds = 9 * 3600 + ns // 1_000_000_000
    a["UpdateTime"] = CLOCK[seconds]
    a["UpdateMillisec"] = ns // 1_000_000 % 1000 // 500 * 500
    a["receive_time"] = np.datetime64(f"{day[:4].decode()}-{day[4:6].decode()}-{day[6:].decode()}T01:00", "ns") \
        + ns.astype("m8[ns]")
    return a


def write_day(folder, total, instruments, day, seed=7):
    rng = np.random.default_rng(seed)
    written, cpu = 0, 0.0
    for first in range(0, total, CHUNK):
        records = chunk(first, min(CHUNK, total - first), total, instruments, day, rng)
        started = time.process_time()
        written += mdlink.write_capture(folder, records)["bytes"]
        cpu += time.process_time() - started
    return written, cpu


def day(args):
    started = time.perf_counter()
    size, write_cpu = write_day(args.dir, args.records, args.instruments, b"20261210")
    wall = time.perf_counter() - started
    cpu, clock = time.process_time(), time.perf_counter()
    count = largest = 0
    for part in mdlink.iter_capture(args.dir):
        count += len(part)
        largest = max(largest, len(part))
    cpu, clock = time.process_time() - cpu, time.perf_counter() - clock
    raw = args.records * 408
    print(f"{args.records:,} records of {args.instruments} instruments, {raw / 1e9:.1f} GB of records")
    print(f"written: {size / 1e9:.2f} GB in {len(os.listdir(args.dir))} files ({raw / size:.1f}x smaller), "
          f"write_capture {write_cpu:.1f} CPU s ({args.records / write_cpu / 1e6:.2f} M records/s); "
          f"{wall:.0f} s with the records' making")
    print(f"read back: {count:,} records by iter_capture in {cpu:.1f} CPU s, {clock:.1f} s "
          f"({raw / cpu / 1e9:.2f} GB/s of records a CPU second), at most {largest:,} in memory at once")
    assert count == args.records


def dask(args):
    from distributed import Client, LocalCluster
    import mdlink.dask
    for k in range(args.files):
        write_day(os.path.join(args.dir, f"day{k}"), args.per_file, args.instruments,
                  f"202612{10 + k:02d}".encode(), seed=k)
    pattern = os.path.join(args.dir, "day*", "*.mdcap")
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True) as cluster, \
                Client(cluster):
            frame = mdlink.dask.read_captures(pattern)
            started = time.perf_counter()
            volume = frame["Volume"].sum().compute()
            rows = len(frame)
            print(f"{workers} worker(s): {frame.npartitions} partitions, known divisions "
                  f"{frame.known_divisions}, {rows:,} rows, sum and count in "
                  f"{time.perf_counter() - started:.1f} s (volume {volume})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("mode", choices=["day", "dask"])
    parser.add_argument("--dir", required=True)
    parser.add_argument("--records", type=int, default=37_000_000)
    parser.add_argument("--instruments", type=int, default=800)
    parser.add_argument("--files", type=int, default=8)
    parser.add_argument("--per-file", type=int, default=2_000_000)
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    day(args) if args.mode == "day" else dask(args)


if __name__ == "__main__":
    main()
