#!/usr/bin/env python3
"""Collects depth records for a while into a pandas DataFrame (numpy batches,
no Python object per record, each with its receive time) and writes it as
CSV, or pickle with --pickle.

    build/bin/mdfront --port 41213 --rate 100 &
    PYTHONPATH=build/python /usr/bin/python3 examples/python/collect_dataframe.py \\
        tcp://127.0.0.1:41213 10 ticks.csv au2612 IF2612

(or, after `pip install --no-build-isolation .` into a virtual environment,
that environment's python without PYTHONPATH). Needs numpy
(python3-numpy); without pandas (python3-pandas) it writes the numpy array
with numpy.save instead.
"""

import sys
import time

import numpy as np

import mdlink


def collect(front, seconds, instruments):
    batches = []
    with mdlink.Client([front], broker="9999", user="demo", password="demo") as client:
        client.wait_login(timeout=30)
        client.subscribe(instruments)
        end = time.monotonic() + seconds
        while (left := end - time.monotonic()) > 0:
            # Up to 100k records at a time; fewer, bigger batches when busy.
            batch = client.batch(100_000, timeout=min(left, 0.5), min_records=1000,
                                 with_time=True)
            if len(batch):
                batches.append(batch)
        print(f"{client.received} records received, {client.dropped} dropped", file=sys.stderr)
    return (np.concatenate(batches) if batches
            else np.empty(0, dtype=mdlink.depth_dtype(with_time=True)))


def main():
    args = [a for a in sys.argv[1:] if a != "--pickle"]
    if len(args) < 4:
        sys.exit(__doc__)
    front, seconds, out, instruments = args[0], float(args[1]), args[2], args[3:]
    records = collect(front, seconds, instruments)
    try:
        import pandas  # noqa: F401 (to_frame needs it)
    except ImportError:
        np.save(out + ".npy", records)
        print(f"{len(records)} records to {out}.npy (pandas is not installed)")
        return
    # Ids and texts as str, the exchange time (Asia/Shanghai) and the receive time (UTC).
    frame = mdlink.to_frame(records, aware=True)
    if "--pickle" in sys.argv:
        frame.to_pickle(out)
    else:
        frame.to_csv(out, index=False)
    print(f"{len(frame)} records to {out}")
    print(frame.groupby("InstrumentID")["LastPrice"].describe())


if __name__ == "__main__":
    main()
