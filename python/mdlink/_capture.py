"""Capture files read back: the depth records a client (``Client(capture=...)``)
or mdcli wrote, as numpy arrays of ``depth_dtype(with_time=True)`` rows,
decompressed in the compiled part straight into the array.

Which files: a path to a file, a directory (its ``*.mdcap`` files), a glob
pattern, or a list of any of these; files in name order within each (names
sort by time), the list in its own order. Which records: ``instruments``
(ids, in ``encoding``), and a receive time from ``start`` (inclusive) to
``end`` (exclusive): a datetime (naive: local time, as ``BusReader``'s
``since``), a numpy datetime64 or a naive pandas Timestamp (UTC, as the
``receive_time`` column holds them), or an int of ns since the epoch.
Blocks wholly outside the times are skipped by their headers, without being
decompressed."""

import collections
import datetime
import glob
import numbers
import os

from . import _checks
from ._compiled import _core
from ._reader import DEFAULT_ENCODING, _dtype

#: Records per array that iter_capture yields unless told otherwise.
DEFAULT_CHUNK_RECORDS = 65536
#: The most records one array of iter_capture may be asked to hold (about 7 GB).
MAX_CHUNK_RECORDS = 1 << 24
#: Threads read_capture decompresses with at most, unless told otherwise.
DEFAULT_THREADS = 4
MAX_THREADS = 64
#: The file name suffix of capture files.
SUFFIX = ".mdcap"

_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
_NS_MIN, _NS_MAX = -(1 << 63), (1 << 63) - 1

#: One block of a capture file, from its header.
CaptureBlock = collections.namedtuple(
    "CaptureBlock", "offset first_ns last_ns records compressed_bytes raw_bytes")
#: What capture_index tells of one file.
CaptureIndex = collections.namedtuple(
    "CaptureIndex", "path version writer trading_day fronts blocks fault")


def _compiled():
    if not getattr(_core, "has_capture", False):
        raise RuntimeError("mdlink was built without capture files (libzstd-dev was missing)")
    return _core


def capture_files(paths):
    """The capture files `paths` names (see the module), in reading order."""
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    elif isinstance(paths, (bytes, bytearray)):
        raise TypeError("paths must be a str or os.PathLike, or a list of them, not bytes")
    else:
        try:
            paths = list(paths)
        except TypeError:
            raise TypeError(f"paths must be a str or os.PathLike, or a list of them, not "
                            f"{type(paths).__name__}") from None
    files = []
    for i, p in enumerate(paths):
        if not isinstance(p, (str, os.PathLike)):
            raise TypeError(f"paths[{i}] must be a str or os.PathLike, not {type(p).__name__}")
        p = os.fspath(p)
        if os.path.isdir(p):
            files += sorted(glob.glob(os.path.join(glob.escape(p), "*" + SUFFIX)))
        elif os.path.exists(p):
            files.append(p)
        elif glob.has_magic(p):
            found = sorted(f for f in glob.glob(p) if os.path.isfile(f))
            if not found:
                raise FileNotFoundError(f"no capture file matches {p!r}")
            files += found
        else:
            raise FileNotFoundError(f"no capture file or directory {p!r}")
    return files


def time_ns(value, name):
    """ns since the epoch of a start or end (see the module); None: no bound."""
    if value is None:
        return None
    if hasattr(value, "to_datetime64") and isinstance(getattr(value, "value", None), int):
        # A pandas Timestamp, to the ns: UTC when naive, as numpy's.
        if value != value:
            raise ValueError(f"{name} is NaT, not a time")
        return value.value
    if isinstance(value, datetime.datetime):
        aware = value if value.tzinfo else value.astimezone()
        return (aware - _EPOCH) // datetime.timedelta(microseconds=1) * 1000
    if type(value).__name__ == "datetime64":
        import numpy as np
        if np.isnat(value):
            raise ValueError(f"{name} is NaT, not a time")
        return int(value.astype("M8[ns]").astype(np.int64))
    if isinstance(value, numbers.Integral) and not isinstance(value, bool):
        if not _NS_MIN <= value <= _NS_MAX:
            raise ValueError(f"{name} {value} is outside the ns since the epoch an int64 holds")
        return int(value)
    raise TypeError(f"{name} must be a datetime, a numpy.datetime64 or an int of ns since the "
                    f"epoch, not {type(value).__name__}")


def _reading(paths, instruments, start, end, encoding):
    """(files, encoded ids, start ns, end ns), the arguments checked, and the codec."""
    _compiled()
    encoding = _checks.encoding(encoding)
    ids = [] if instruments is None else _checks.instrument_ids(instruments, encoding)
    if instruments is not None and not ids:
        raise ValueError("instruments: give at least one id, or None for every instrument")
    lo, hi = time_ns(start, "start"), time_ns(end, "end")
    return (capture_files(paths), ids, _NS_MIN if lo is None else lo,
            _NS_MAX if hi is None else hi), encoding


def _array(data, encoding):
    import numpy as np
    return np.frombuffer(data, dtype=_dtype(True, encoding))


def read_capture(paths, instruments=None, start=None, end=None, *, encoding=DEFAULT_ENCODING,
                 threads=None):
    """Every depth record of the capture files in `paths` that passes the
    filters (see the module), in the order they were received, as one numpy
    array of ``depth_dtype(with_time=True)`` (``receive_time``
    datetime64[ns], UTC) that ``to_frame`` takes as it takes a batch. The
    array is sized from the block headers and filled with the GIL let go.
    A damaged file raises :class:`CaptureError` naming the file and the
    offset; a missing one FileNotFoundError. ``threads``: how many threads
    decompress blocks (default: the CPUs, at most DEFAULT_THREADS)."""
    import numpy  # noqa: F401  (before any work: the array needs it)
    threads = (min(DEFAULT_THREADS, os.cpu_count() or 1) if threads is None else
               _checks.count("threads", threads, least=1, most=MAX_THREADS))
    args, encoding = _reading(paths, instruments, start, end, encoding)
    return _array(_core.read_capture(*args, threads), encoding)


def iter_capture(paths, instruments=None, start=None, end=None, *,
                 max_records=DEFAULT_CHUNK_RECORDS, encoding=DEFAULT_ENCODING):
    """The records :func:`read_capture` returns, as arrays of at most
    ``max_records`` each, read as they are asked for: for captures larger
    than memory. A damaged file raises :class:`CaptureError` once the
    records before the damage were yielded."""
    import numpy  # noqa: F401
    max_records = _checks.count("max_records", max_records, least=1, most=MAX_CHUNK_RECORDS)
    args, encoding = _reading(paths, instruments, start, end, encoding)
    return _chunks(_core.CaptureScan(*args), max_records, encoding)


def _chunks(scan, max_records, encoding):
    while True:
        data = scan.take(max_records)
        if not data:
            return
        yield _array(data, encoding)


def write_capture(directory, records, *, writer="mdlink-py", fronts=()):
    """Writes an array of ``depth_dtype(with_time=True)`` rows (such as
    :func:`read_capture` returns, filtered or sliced) to new capture files
    in `directory`, each record with its ``receive_time``; blocks are cut by
    size alone. Returns the counters, as :meth:`Client.capture_stats`."""
    import numpy as np
    directory = _checks.directory("directory", directory)
    rows = _dtype(True, None)
    if not isinstance(records, np.ndarray) or records.dtype.names != rows.names:
        raise TypeError("write_capture takes an array of depth_dtype(with_time=True), not "
                        f"{getattr(records, 'dtype', type(records).__name__)}")
    # Laid out as the compiled part reads rows (numpy may have packed a copy).
    records = np.ascontiguousarray(records.astype(rows, copy=False)).reshape(-1)
    fronts = _checks._strings("fronts", fronts, ["tcp://127.0.0.1:41213"])
    return _compiled().write_capture(directory, records.view(np.uint8), str(writer), fronts)


def capture_index(path):
    """A capture file's header and its blocks' (offset, first and last
    receive time, record count, sizes), read from the headers alone, without
    decompressing: cheap. ``fault``: why the blocks end early (a damaged or
    truncated block), else ''."""
    if not isinstance(path, (str, os.PathLike)):
        raise TypeError(f"path must be a str or os.PathLike, not {type(path).__name__}")
    path = os.fspath(path)
    if not os.path.isfile(path):
        raise FileNotFoundError(f"no capture file {path!r}")
    header, blocks, fault = _compiled().capture_index(path)
    return CaptureIndex(path, header["version"], header["writer"], header["trading_day"],
                        tuple(header["fronts"]), [CaptureBlock(*b) for b in blocks], fault)
