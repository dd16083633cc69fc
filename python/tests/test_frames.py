"""Depth records as DataFrames: texts as str, the exchange time by the
night-session rule, the receive time."""

import pytest

import mdlink
from conftest import CREDENTIALS, TEXT_MEMBERS, optional, sample_rows, write_replay_csv

np = optional("numpy")
pd = optional("pandas")

# (TradingDay, UpdateTime, UpdateMillisec, ActionDay) -> exchange time
EXCHANGE_TIMES = [
    (("20261208", "09:30:01", 500, ""), "2026-12-08T09:30:01.500"),   # day session
    (("20261208", "21:00:00", 0, "20261208"), "2026-12-07T21:00:00"),  # night: the evening before
    (("20261208", "01:30:00", 250, ""), "2026-12-08T01:30:00.250"),   # past midnight
    (("20261207", "21:05:00", 0, ""), "2026-12-04T21:05:00"),         # Monday's night is Friday's
    (("20261207", "02:29:59", 999, ""), "2026-12-05T02:29:59.999"),   # ... into Saturday
    (("", "10:00:00", 0, "20261209"), "2026-12-09T10:00:00"),         # no trading day: ActionDay
    (("20261131", "10:00:00", 0, ""), "NaT"),                         # no such date
    (("2026128", "10:00:00", 0, ""), "NaT"),
    (("20261208", "24:00:00", 0, ""), "NaT"),
    (("20261208", "10-00-00", 0, ""), "NaT"),
    (("20261208", "", 0, ""), "NaT"),
    (("20261208", "09:00:00", 1000, ""), "NaT"),
]


def records(rows):
    a = np.zeros(len(rows), dtype=mdlink.depth_dtype())
    for i, (trading, update, millis, action) in enumerate(rows):
        a[i]["TradingDay"], a[i]["UpdateTime"] = trading, update
        a[i]["UpdateMillisec"], a[i]["ActionDay"] = millis, action
    return a


def test_exchange_time_rule():
    rows, expected = zip(*EXCHANGE_TIMES)
    got = mdlink.exchange_times(records(rows))
    assert got.dtype == np.dtype("M8[ns]")
    assert [str(t) for t in got.astype("M8[ms]")] == [
        e if e == "NaT" else str(np.datetime64(e, "ms")) for e in expected]
    # A holiday before the trading day moves its evening back.
    holiday = mdlink.exchange_times(records([("20261208", "21:00:00", 0, "")]),
                                    holidays=["2026-12-07"])
    assert holiday[0] == np.datetime64("2026-12-04T21:00:00")


def test_a_trading_day_in_order():
    day = ["20:59:00", "21:00:00", "23:59:59", "00:00:00", "02:30:00", "08:59:00", "09:00:00",
           "15:00:00"]
    times = mdlink.exchange_times(records([("20261207", t, 0, "") for t in day]))
    assert list(np.diff(times).astype(np.int64) > 0) == [True] * (len(day) - 1)


def test_frame_of_a_batch_and_of_ticks(front, tmp_path):
    rows = sample_rows("au2612", 3)
    for i, row in enumerate(rows):
        row["UpdateMillisec"] = 250 * i
    write_replay_csv(tmp_path / "replay.csv", rows)
    f = front("--replay", str(tmp_path / "replay.csv"), "--rate", "50")
    with mdlink.Client(f.address, **CREDENTIALS) as client:
        client.subscribe("au2612")
        batch = client.batch(3, timeout=30, min_records=3, with_time=True)
        ticks = [client.next_tick(timeout=30) for _ in range(3)]
    from_batch = mdlink.to_frame(batch, aware=False)
    from_ticks = mdlink.to_frame(ticks, aware=False)
    assert list(from_batch.columns)[-2:] == ["exchange_time", "receive_time"]
    assert from_batch["receive_time"].dtype == np.dtype("M8[ns]")
    assert list(from_batch["receive_time"].astype("int64")) == list(batch["receive_time"].astype("int64"))
    assert list(from_ticks["receive_time"].astype("int64")) == [t.receive_time for t in ticks]
    for frame in (from_batch, from_ticks):
        for name in TEXT_MEMBERS:
            assert frame[name].tolist() == [r[name] for r in rows], name
        assert frame["LastPrice"].tolist() == [r["LastPrice"] for r in rows]
        assert frame["exchange_time"].tolist() == [
            pd.Timestamp(f"2026-12-08T{r['UpdateTime']}.{r['UpdateMillisec']:03d}") for r in rows]
    with pytest.raises(TypeError):
        mdlink.to_frame(b"not records", aware=False)


@pytest.mark.parametrize("encoding", ["utf-8", "gb18030"])
def test_frames_in_the_clients_encoding(front, tmp_path, encoding):
    # The records carry the codec of the client that read them.
    rows = sample_rows("铜2612", 2)
    write_replay_csv(tmp_path / "replay.csv", rows, encoding)
    f = front("--replay", str(tmp_path / "replay.csv"), "--rate", "50")
    with mdlink.Client(f.address, **CREDENTIALS, encoding=encoding) as client:
        client.subscribe("铜2612")
        batch = client.batch(2, timeout=30, min_records=2)
        tick = client.next_tick(timeout=30)
    assert tick.InstrumentID == "铜2612"
    for frame in (mdlink.to_frame(batch, aware=False), mdlink.to_frame(batch[1:], aware=True),
                  mdlink.to_frame([tick], aware=False)):
        assert frame["InstrumentID"].tolist() == ["铜2612"] * len(frame)
    # Told otherwise, it decodes as told.
    assert mdlink.to_frame(batch, encoding="latin-1", aware=False)["InstrumentID"][0] != "铜2612"


def test_frame_texts_in_the_encoding():
    a = records([("20261208", "09:00:00", 0, "")] * 2)
    a["InstrumentID"] = ["铜2612".encode("gb18030"), b"\xff\xfe"]
    frame = mdlink.to_frame(a, aware=False)
    assert frame["InstrumentID"].tolist() == ["铜2612", "\ufffd\ufffd"]
    assert "receive_time" not in frame and frame["ExchangeID"].tolist() == ["", ""]
    assert mdlink.to_frame(a, encoding="latin-1", aware=False)["InstrumentID"][1] == "\xff\xfe"


@pytest.mark.parametrize("aware", [True, False, None])
def test_frame_times_with_and_without_zones(aware):
    # Received at 01:30:00.250 UTC: 09:30:00.250 on the exchange's clock.
    a = np.zeros(2, dtype=mdlink.depth_dtype(with_time=True))
    a["TradingDay"], a["UpdateTime"], a["UpdateMillisec"] = "20261208", "09:30:00", 250
    a["receive_time"] = np.datetime64("2026-12-08T01:30:00.250", "ns")
    if aware is None:
        with pytest.warns(FutureWarning, match="aware=True"):
            frame = mdlink.to_frame(a)
    else:
        frame = mdlink.to_frame(a, aware=aware)
    local, received = frame["exchange_time"], frame["receive_time"]
    if aware:
        assert (str(local.dt.tz), str(received.dt.tz)) == ("Asia/Shanghai", "UTC")
        assert (received - local).tolist() == [pd.Timedelta(0)] * 2
        assert local[0] == pd.Timestamp("2026-12-08T09:30:00.250", tz="Asia/Shanghai")
    else:  # as numpy holds them: a naive difference is off by the zone's 8 hours
        assert local.dt.tz is None and received.dt.tz is None
        assert (local - received).tolist() == [pd.Timedelta(hours=8)] * 2
