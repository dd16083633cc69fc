"""mdlink.dask.read_captures on a real LocalCluster of two worker processes,
against read_capture of the same files."""

import pytest

import mdlink
from conftest import optional

np = optional("numpy")
pd = optional("pandas")
optional("dask.dataframe")  # mdlink.dask needs it; skips cleanly without
distributed = optional("distributed")
if not mdlink._core.has_capture:
    pytest.skip("mdlink was built without capture files", allow_module_level=True)

import mdlink.dask  # noqa: E402  (needs dask)

T0 = np.datetime64("2026-12-10T01:00:00", "ns")


def write_files(directory, sizes, spacing_us=1):
    """One file per size, in time order; the rows they hold."""
    total = sum(sizes)
    rows = np.zeros(total, dtype=mdlink.depth_dtype(with_time=True))
    rows["InstrumentID"] = np.where(np.arange(total) % 2, b"au2612", b"ag2612")
    rows["TradingDay"], rows["UpdateTime"] = b"20261210", b"09:00:00"
    rows["Volume"] = np.arange(total)
    rows["receive_time"] = T0 + (np.arange(total) * spacing_us).astype("m8[us]")
    at = 0
    for size in sizes:
        mdlink.write_capture(directory, rows[at:at + size])
        at += size
    return rows


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as c, distributed.Client(c) as client:
        yield client


def expected(directory, **filters):
    return mdlink.to_frame(mdlink.read_capture(directory, **filters),
                           aware=True).set_index("receive_time")


@pytest.mark.parametrize("filters, partition_records, partitions", [
    ({}, None, 3),
    (dict(instruments="au2612"), None, 3),
    (dict(start=T0 + np.timedelta64(4500, "us"), end=T0 + np.timedelta64(9200, "us")), None, 2),
    ({}, 3000, 5),  # the 6000-record file cut at its block edges (2474 records a block)
])
def test_read_captures_on_a_local_cluster(cluster, tmp_path, filters, partition_records,
                                          partitions):
    write_files(tmp_path, [3000, 6000, 500])
    frame = mdlink.dask.read_captures(str(tmp_path / "*.mdcap"), **filters,
                                      partition_records=partition_records)
    assert frame.known_divisions and frame.npartitions == partitions
    got = frame.compute()
    want = expected(tmp_path, **filters)
    pd.testing.assert_frame_equal(got, want)
    # Each partition holds what its divisions say.
    for k in range(frame.npartitions):
        part = frame.get_partition(k).compute()
        assert frame.divisions[k] <= part.index.min()
        assert part.index.max() < frame.divisions[k + 1] or k == frame.npartitions - 1
    # A time slice reads only the partitions it touches: the last record's, the last.
    at = got.index[-1]
    assert frame.loc[at:].npartitions == 1
    pd.testing.assert_frame_equal(frame.loc[at:].compute(), want.loc[at:])


def test_overlapping_captures_have_unknown_divisions(cluster, tmp_path):
    write_files(tmp_path / "a", [100])
    write_files(tmp_path / "b", [100])
    frame = mdlink.dask.read_captures([tmp_path / "a", tmp_path / "b"])
    assert not frame.known_divisions
    assert len(frame.compute()) == 200
    empty = mdlink.dask.read_captures(tmp_path / "a", instruments="cu2601")
    assert len(empty.compute()) == 0
