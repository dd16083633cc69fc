"""Capture files from Python: written by a client or from an array, read back
whole, filtered, by blocks, and damaged files refused by name and offset."""

import datetime
import os

import pytest

import mdlink
from mdlink._frames import _as_records

from conftest import CREDENTIALS, optional, sample_rows, wait_until, write_replay_csv

np = optional("numpy")
if not mdlink._core.has_capture:
    pytest.skip("mdlink was built without capture files", allow_module_level=True)

T0 = np.datetime64("2026-12-10T01:00:00", "ns")
COUNT = 6000  # more than two 1 MiB blocks


def records(count):
    # Zeroed, padding included, as a capture stores records.
    a = np.zeros(count, dtype=mdlink.depth_dtype(with_time=True))
    a["InstrumentID"] = np.where(np.arange(count) % 3 == 0, b"ag2612", b"au2612")
    a["TradingDay"] = b"20261210"
    a["Volume"] = np.arange(count)
    a["LastPrice"] = np.arange(count) / 4
    a["receive_time"] = T0 + np.arange(count).astype("m8[us]")
    return a


@pytest.fixture
def capture(tmp_path):
    """Two files of one day, then one of the next: (directory, the rows)."""
    rows = records(COUNT + 100)
    rows["TradingDay"][COUNT:] = b"20261211"
    mdlink.write_capture(tmp_path, rows[:4000], fronts=["tcp://127.0.0.1:1"])
    mdlink.write_capture(tmp_path, rows[4000:])
    assert len(mdlink.capture_files(tmp_path)) == 3  # the day's change starts a file
    return tmp_path, rows


def blocks(directory):
    return [b for f in mdlink.capture_files(directory) for b in mdlink.capture_index(f).blocks]


def test_read_capture_returns_the_rows_written(capture):
    directory, rows = capture
    got = mdlink.read_capture(directory)
    assert got.dtype == mdlink.depth_dtype(with_time=True) and got.tobytes() == rows.tobytes()
    files = mdlink.capture_files(directory)
    assert mdlink.read_capture(files[::-1])[0]["Volume"] == COUNT  # a list in its own order
    assert len(mdlink.read_capture(str(directory / "*.mdcap"))) == len(rows)
    index = mdlink.capture_index(files[0])
    assert (index.trading_day, index.fronts, index.fault) == ("20261210", ("tcp://127.0.0.1:1",), "")
    assert [b.records for b in blocks(directory)] == [2474, 1526, 2000, 100]
    frame = mdlink.to_frame(got[-3:], aware=False)
    assert frame["InstrumentID"].tolist() == ["au2612", "au2612", "ag2612"]
    assert list(frame["receive_time"].to_numpy()) == list(rows["receive_time"][-3:])


def ns(t):
    return int(t.astype(np.int64))


def same(a, b):
    """Member by member (a copy of selected rows leaves their padding unset)."""
    return a.dtype == b.dtype and len(a) == len(b) and bool((a == b).all())


# (instruments, start, end) as functions of the blocks' edges -> the rows kept
FILTERS = {
    "one id": (["ag2612"], None, None),
    "two ids, one absent": (["au2612", "cu2601"], None, None),
    "from a block's first record": (None, lambda b: b[1].first_ns, None),
    "to a block's first record, excluded": (None, None, lambda b: b[2].first_ns),
    "to a block's last record, excluded": (None, None, lambda b: b[0].last_ns),
    "just after a block": (None, lambda b: b[0].last_ns + 1, lambda b: b[3].first_ns + 1),
    "inside one block": ("au2612", lambda b: b[1].first_ns + 7, lambda b: b[1].last_ns - 7),
    "before everything": (None, None, lambda b: b[0].first_ns),
    "after everything": (None, lambda b: b[-1].last_ns + 1, None),
}


@pytest.mark.parametrize("case", FILTERS)
def test_filters_by_instrument_and_receive_time(capture, case):
    directory, rows = capture
    ids, start, end = FILTERS[case]
    edges = blocks(directory)
    start = start and start(edges)
    end = end and end(edges)
    times = rows["receive_time"].astype(np.int64)
    keep = np.ones(len(rows), bool)
    if ids is not None:
        keep &= np.isin(rows["InstrumentID"], [i.encode() for i in np.atleast_1d(ids)])
    if start is not None:
        keep &= times >= start
    if end is not None:
        keep &= times < end
    got = mdlink.read_capture(directory, ids, start, end, threads=1)
    assert same(got, rows[keep])
    assert same(mdlink.read_capture(directory, ids, start, end, threads=3), got)
    chunks = list(mdlink.iter_capture(directory, ids, start, end, max_records=1000))
    assert [len(c) for c in chunks] == [1000] * (keep.sum() // 1000) + (
        [keep.sum() % 1000] if keep.sum() % 1000 else [])
    assert b"".join(c.tobytes() for c in chunks) == got.tobytes()


def test_times_in_every_form_the_package_takes(capture):
    directory, rows = capture
    at = rows["receive_time"][2500]
    utc = datetime.datetime(2026, 12, 10, 1, 0, 0, 2500, tzinfo=datetime.timezone.utc)
    pd = optional("pandas")
    for start in (at, ns(at), utc, utc.astimezone().replace(tzinfo=None), pd.Timestamp(at),
                  pd.Timestamp(at).tz_localize("UTC").tz_convert("Asia/Shanghai")):
        got = mdlink.read_capture(directory, start=start)
        assert got[0]["Volume"] == 2500 and len(got) == len(rows) - 2500, repr(start)
    # To the ns: a Timestamp's nanoseconds count.
    later = mdlink.read_capture(directory, start=pd.Timestamp(at).tz_localize("UTC") + pd.Timedelta(1))
    assert later[0]["Volume"] == 2501


@pytest.mark.parametrize("kwargs, error, text", [
    (dict(start="2026-12-10"), TypeError, "start must be a datetime"),
    (dict(end=True), TypeError, "end must be"),
    (dict(end=np.datetime64("NaT")), ValueError, "end is NaT"),
    (dict(start=optional("pandas").NaT), ValueError, "start is NaT"),
    (dict(start=1 << 63), ValueError, "start"),
    (dict(instruments=[]), ValueError, "at least one id"),
    (dict(instruments=["x" * 31]), ValueError, "instrument_ids"),
    (dict(max_records=0), ValueError, "max_records"),
    (dict(threads=0), ValueError, "threads"),
])
def test_wrong_arguments_are_named(capture, kwargs, error, text):
    directory, _ = capture
    call = mdlink.iter_capture if "max_records" in kwargs else mdlink.read_capture
    with pytest.raises(error, match=text):
        call(directory, **kwargs)


def test_missing_files_and_empty_directories(tmp_path):
    with pytest.raises(FileNotFoundError, match="nothing-here"):
        mdlink.read_capture(tmp_path / "nothing-here")
    with pytest.raises(FileNotFoundError, match=r"\*\.mdcap"):
        mdlink.read_capture(str(tmp_path / "*.mdcap"))
    assert len(mdlink.read_capture(tmp_path)) == 0
    assert list(mdlink.iter_capture(tmp_path)) == []


def damage(path, at, data=None, cut=False):
    with open(path, "r+b") as f:
        if cut:
            f.truncate(at)
        else:
            f.seek(at)
            f.write(data)


@pytest.mark.parametrize("how", ["payload", "truncated", "magic", "block header"])
def test_a_damaged_file_raises_naming_the_file_and_offset(capture, how):
    directory, rows = capture
    path = mdlink.capture_files(directory)[0]
    first, second = mdlink.capture_index(path).blocks
    if how == "payload":     # the second block's bytes: its checksum fails
        damage(path, second.offset + 60, b"\xff\xff")
        # And a later block's: read by another thread, it is not the one raised.
        last = mdlink.capture_files(directory)[-1]
        damage(last, mdlink.capture_index(last).blocks[0].offset + 60, b"\xff\xff")
    elif how == "truncated":  # a writer killed in the middle of its second block
        damage(path, second.offset + 100, cut=True)
    elif how == "magic":
        damage(path, 0, b"NOTACAPT")
    else:
        damage(path, second.offset, b"XXXX")
    offset = 0 if how == "magic" else second.offset
    expected = f"{path}: at offset {offset}: "
    for threads in (1, 2, 3):
        with pytest.raises(mdlink.CaptureError, match=expected):
            mdlink.read_capture(directory, threads=threads)
    chunks = mdlink.iter_capture(directory, max_records=first.records)
    if how != "magic":  # the good block comes first, then the error
        assert same(next(chunks), rows[:first.records])
    with pytest.raises(mdlink.CaptureError, match=expected):
        next(chunks)
    if how == "payload":
        # A block outside the times is skipped by its header, never decompressed.
        assert len(mdlink.read_capture(directory, end=second.first_ns)) == first.records
        assert mdlink.capture_index(path).fault == ""
    if how == "truncated":
        assert mdlink.capture_index(path).fault.startswith(expected)


@pytest.mark.parametrize("style", ["pulled", "pushed"])
def test_a_client_captures_what_it_delivers(front, tmp_path, style):
    rows = sample_rows("au2612", 30)
    write_replay_csv(tmp_path / "replay.csv", rows)
    f = front("--replay", str(tmp_path / "replay.csv"), "--rate", "200")
    def as_rows(ticks):  # Depth objects as to_frame takes them: rows with their time
        return _as_records(list(ticks))[0]

    pushed = []
    with mdlink.Client(f.address, **CREDENTIALS, capture=tmp_path / "cap",
                       on_tick=pushed.append if style == "pushed" else None) as client:
        client.subscribe("au2612")
        if style == "pulled":
            delivered = client.batch(30, timeout=30, min_records=30, with_time=True)
        else:
            wait_until(lambda: len(pushed) >= 30, what="30 pushed records")
        # The replay loops: records may still come until the close, and each
        # is captured as it arrives, so compare with all that the client got.
        client.close()
        if style == "pulled":
            rest = as_rows(client.ticks(timeout=0))  # concatenate would pack the padding away
            delivered = np.frombuffer(delivered.tobytes() + rest.tobytes(), dtype=delivered.dtype)
        else:
            delivered = as_rows(pushed)
    assert len(delivered) >= 30
    stats = client.capture_stats()
    assert {k: stats[k] for k in ("records", "dropped", "files", "error")} == {
        "records": len(delivered), "dropped": 0, "files": 1, "error": ""}
    assert stats["paths"] == mdlink.capture_files(tmp_path / "cap")
    captured = mdlink.read_capture(tmp_path / "cap", encoding=client.encoding)
    assert captured.tobytes() == delivered.tobytes()
    index = mdlink.capture_index(stats["paths"][0])
    assert index.fronts == (f.address,) and index.writer == f"mdlink-py {mdlink.__version__}"
    with mdlink.Client(f.address, **CREDENTIALS) as plain:
        assert plain.capture_stats() is None


def test_redundant_links_capture_each_record_once(front, tmp_path):
    feed = ("--shared-feed", "--rate", "100", "--instruments", "au2612", "--seed", "3")
    a, b = front(*feed), front(*feed, "--delay-ms", "5")
    with mdlink.Client([a.address, b.address], links=2, **CREDENTIALS,
                       capture=tmp_path) as client:
        client.subscribe(["au2612"])
        ticks = [client.next_tick(timeout=30) for _ in range(20)]
        client.close()
        ticks += list(client.ticks(timeout=0))
    captured = mdlink.read_capture(tmp_path)
    assert client.capture_stats()["records"] == client.received == len(captured)
    assert list(captured["Volume"]) == [t.Volume for t in ticks]
    assert list(captured["receive_time"].astype(np.int64)) == [t.receive_time for t in ticks]


def test_a_capture_directory_that_cannot_be_made(tmp_path):
    (tmp_path / "file").write_text("")
    with pytest.raises(OSError, match="capture"):
        mdlink.Client("tcp://127.0.0.1:1", capture=tmp_path / "file" / "sub")
    with pytest.raises(TypeError, match="capture must be a directory"):
        mdlink.Client("tcp://127.0.0.1:1", capture=7)


def test_capture_losses_are_logged_once_at_the_close(caplog):
    class LossySession:  # what a capture that hit a full disk reports
        def close(self):
            pass

        def capture_stats(self):
            return dict(records=5, dropped=2, blocks=0, files=1, bytes=0, error="disk full",
                        paths=[])

    client = mdlink.Client.__new__(mdlink.Client)
    client._session, client._fronts = LossySession(), ("tcp://127.0.0.1:1",)
    client.close()
    client.close()
    assert [(r.levelname, r.getMessage()) for r in caplog.records] == [
        ("WARNING", "mdlink client of tcp://127.0.0.1:1: the capture dropped 2 depth records: "
                    "disk full")]
