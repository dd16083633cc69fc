"""How fast capture files read into numpy, against pandas.read_csv of the
same records as mdcli --csv writes them, and how large each file is.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/capture.py --records 500000

Makes a day-like stream of depth records (instruments each on a random walk
of prices, five levels a side, volumes that grow), writes it once as a
capture (mdlink.write_capture) and once as CSV (a header, then the receive
time in µs and every member, numbers in their shortest form, as mdcli's),
then times the reads, best of --rounds, in this process: read_capture on
one thread and on the default threads, iter_capture, and pandas.read_csv."""

import argparse
import os
import tempfile
import time

import numpy as np
import pandas as pd

import mdlink

INSTRUMENTS = [b"au2612", b"ag2612", b"cu2601", b"rb2605", b"IF2612", b"al2601", b"zn2601",
               b"ni2601"]


def stream(count, seed=7):
    """`count` depth records as a feed of several instruments brings them."""
    rng = np.random.default_rng(seed)
    a = np.zeros(count, dtype=mdlink.depth_dtype(with_time=True))
    which = rng.integers(0, len(INSTRUMENTS), count)
    tick = np.array([0.02, 1.0, 10.0, 1.0, 0.2, 5.0, 5.0, 10.0])[which]
    base = np.array([612.5, 7800, 86000, 3500, 4100, 21000, 24000, 130000])[which]
    walk = np.zeros(count)
    for k in range(len(INSTRUMENTS)):
        mine = which == k
        walk[mine] = np.cumsum(rng.integers(-2, 3, mine.sum()))
    last = base + walk * tick
    a["TradingDay"], a["ActionDay"], a["ExchangeID"] = b"20261210", b"20261210", b"SHFE"
    a["InstrumentID"] = a["ExchangeInstID"] = np.array(INSTRUMENTS)[which]
    a["LastPrice"] = last
    a["PreSettlementPrice"] = a["PreClosePrice"] = a["OpenPrice"] = base
    a["HighestPrice"], a["LowestPrice"] = last + 5 * tick, last - 5 * tick
    a["UpperLimitPrice"], a["LowerLimitPrice"] = base * 1.1, base * 0.9
    a["SettlementPrice"] = a["ClosePrice"] = a["PreDelta"] = a["CurrDelta"] = 1.7976931348623157e308
    volume = np.cumsum(rng.integers(0, 20, count))
    a["Volume"] = volume
    a["Turnover"] = volume * base * 10.0
    a["OpenInterest"] = a["PreOpenInterest"] = 150000 + (volume % 997)
    ms = np.arange(count) * 2  # one record every 2 ms across the instruments
    seconds = 9 * 3600 + ms // 1000
    a["UpdateTime"] = [f"{s // 3600:02d}:{s // 60 % 60:02d}:{s % 60:02d}".encode()
                       for s in seconds]
    a["UpdateMillisec"] = ms % 1000 // 500 * 500
    for level in range(1, 6):
        a[f"BidPrice{level}"] = last - level * tick
        a[f"AskPrice{level}"] = last + level * tick
        a[f"BidVolume{level}"] = rng.integers(1, 200, count)
        a[f"AskVolume{level}"] = rng.integers(1, 200, count)
    a["AveragePrice"] = base * 10.0
    a["receive_time"] = (np.datetime64("2026-12-10T01:00:00", "ns") + ms.astype("m8[ms]")
                         + rng.integers(0, 900_000, count).astype("m8[ns]"))
    return a


def write_csv(records, path):
    """The records as mdcli --csv writes them."""
    frame = pd.DataFrame(records[[n for n in records.dtype.names if n != "receive_time"]])
    for name in ("TradingDay", "InstrumentID", "ExchangeID", "ExchangeInstID", "UpdateTime",
                 "ActionDay"):
        frame[name] = frame[name].str.decode("ascii")
    frame.insert(0, "RecvTimeUs", records["receive_time"].astype(np.int64) // 1000)
    frame.to_csv(path, index=False)


def best(rounds, work):
    """The least CPU time of this process over `rounds` runs (the machine may
    be shared: CPU time is what one core spends), the wall time of that run,
    and the result."""
    runs = []
    for _ in range(rounds):
        cpu, wall = time.process_time(), time.perf_counter()
        result = work()
        runs.append((time.process_time() - cpu, time.perf_counter() - wall))
    return min(runs), result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--records", type=int, default=500_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--dir", help="where the files go (default: a temporary folder)")
    args = parser.parse_args()
    folder = args.dir or tempfile.mkdtemp(prefix="capture-bench-")
    records = stream(args.records)
    capture = os.path.join(folder, "capture")
    stats = mdlink.write_capture(capture, records)
    csv = os.path.join(folder, "records.csv")
    write_csv(records, csv)
    record_bytes = len(records) * 408

    capture_time, got = best(args.rounds, lambda: mdlink.read_capture(capture, threads=1))
    assert (got == records).all(), "the capture does not read back as written"
    threads = min(mdlink._capture.DEFAULT_THREADS, os.cpu_count() or 1)
    parallel_time, got = best(args.rounds, lambda: mdlink.read_capture(capture, threads=threads))
    assert (got == records).all(), "the capture does not read back as written"
    chunks_time, _ = best(args.rounds, lambda: sum(len(c) for c in mdlink.iter_capture(capture)))
    csv_time, frame = best(args.rounds, lambda: pd.read_csv(csv))
    assert len(frame) == len(records)
    one_id, _ = best(args.rounds, lambda: mdlink.read_capture(capture, "au2612"))
    csv_size = os.path.getsize(csv)

    print(f"{len(records):,} depth records ({record_bytes / 1e6:.0f} MB of records), "
          f"{stats['blocks']} blocks in {stats['files']} file(s); best of {args.rounds}")
    print(f"{'':32}{'CPU s':>8}{'wall s':>8}{'records/s':>13}{'record GB/s':>13}  (per CPU s)")
    for name, (cpu, wall) in (("read_capture, 1 thread", capture_time),
                              (f"read_capture, {threads} threads", parallel_time),
                              ("iter_capture (65,536 a chunk)", chunks_time),
                              ("read_capture, one instrument", one_id),
                              ("pandas.read_csv", csv_time)):
        print(f"{name:32}{cpu:8.3f}{wall:8.3f}{len(records) / cpu / 1e6:12.2f}M"
              f"{record_bytes / cpu / 1e9:13.2f}")
    print(f"read_capture is {csv_time[0] / capture_time[0]:.0f}x faster than pandas.read_csv "
          f"in CPU time on one thread ({csv_time[1] / capture_time[1]:.0f}x in wall time); "
          f"{csv_time[1] / parallel_time[1]:.0f}x in wall time on {threads} threads")
    print(f"capture {stats['bytes'] / 1e6:.1f} MB, CSV {csv_size / 1e6:.1f} MB: "
          f"{csv_size / stats['bytes']:.1f}x smaller ({record_bytes / stats['bytes']:.1f}x "
          f"the records' own bytes)")


if __name__ == "__main__":
    main()
