"""Capture files as a Dask DataFrame: ``mdlink.dask.read_captures``.

One partition per file (or per ``partition_records`` records of a file, cut
at block edges), indexed by ``receive_time``, with divisions read from the
files' block headers without decompressing anything: Dask knows which
partitions a time range touches before any is read. Each partition is read
by :func:`mdlink.read_capture` where Dask runs it (a worker process reads
the file itself, so the files must be where the workers can open them).
Needs dask[dataframe] and pandas (Debian's python3-dask)."""

from . import _capture, _checks
from ._reader import DEFAULT_ENCODING


def _partitions(files, lo, hi, partition_records):
    """(path, start, end, first, last) per partition: the receive times it
    is read with (end excluded) and the earliest and latest it holds at
    most, from the block headers."""
    parts = []
    for path in files:
        kept = []
        for b in _capture.capture_index(path).blocks:
            first, last = min(b.first_ns, b.last_ns), max(b.first_ns, b.last_ns)
            if last >= lo and first < hi:
                kept.append((first, last, b.records))
        groups, count = [], 0
        for block in kept:
            if not groups or (partition_records and count + block[2] > partition_records):
                groups.append([])
                count = 0
            groups[-1].append(block)
            count += block[2]
        for k, group in enumerate(groups):
            start = lo if k == 0 else group[0][0]
            end = hi if k == len(groups) - 1 else groups[k + 1][0][0]
            first = max(start, min(b[0] for b in group))
            last = min(end - 1, max(b[1] for b in group))
            parts.append((path, start, end, first, last))
    return parts


def _divisions(parts):
    """Known divisions when the partitions' times do not overlap, else None."""
    import pandas as pd
    if not parts or any(a[4] >= b[3] for a, b in zip(parts, parts[1:])):
        return None
    return tuple(pd.Timestamp(t, tz="UTC") for t in [p[3] for p in parts] + [parts[-1][4]])


def _frame(records, aware):
    from ._frames import to_frame
    return to_frame(records, aware=aware).set_index("receive_time")


class _Reader:
    """Reads one partition (picklable, for worker processes)."""

    def __init__(self, instruments, encoding, aware):
        self.instruments, self.encoding, self.aware = instruments, encoding, aware

    def __call__(self, part):
        path, start, end = part[:3]
        records = _capture.read_capture(path, self.instruments, start, end,
                                        encoding=self.encoding)
        return _frame(records, self.aware).sort_index(kind="stable")


def read_captures(paths, instruments=None, start=None, end=None, *, partition_records=None,
                  encoding=DEFAULT_ENCODING, aware=True):
    """A ``dask.dataframe.DataFrame`` of the capture files `paths` names (a
    glob pattern, a directory, a file or a list, as :func:`read_capture`
    takes them) with the same filters, rows as ``mdlink.to_frame`` makes
    them (``aware`` as there), indexed by ``receive_time``.

    Divisions are known when the files' receive times do not overlap (one
    client's capture, in name order); files of several captures that
    overlap in time give a frame with unknown divisions."""
    import dask.dataframe as dd
    files = _capture.capture_files(paths)
    if partition_records is not None:
        partition_records = _checks.count("partition_records", partition_records, least=1)
    lo = _capture.time_ns(start, "start")
    hi = _capture.time_ns(end, "end")
    lo = _capture._NS_MIN if lo is None else lo
    hi = _capture._NS_MAX if hi is None else hi
    if instruments is not None:
        _checks.instrument_ids(instruments, _checks.encoding(encoding))
    parts = sorted(_partitions(files, lo, hi, partition_records), key=lambda p: (p[3], p[4]))
    import numpy as np
    meta = _frame(np.zeros(0, dtype=_capture._dtype(True, _checks.encoding(encoding))), aware)
    if not parts:
        return dd.from_pandas(meta, npartitions=1)
    return dd.from_map(_Reader(instruments, encoding, aware), parts, meta=meta,
                       divisions=_divisions(parts), label="read-captures",
                       enforce_metadata=False)
