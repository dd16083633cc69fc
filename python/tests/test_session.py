"""The client against mdfront: login, subscriptions, depth data, events, the queue."""

import asyncio
import errno
import math
import logging
import os
import time

import pytest

import mdlink
from conftest import (CREDENTIALS, TEXT_MEMBERS, optional, refused_address, sample_rows,
                      wait_until, write_replay_csv)

# Numeric members that the text body forms carry; the others arrive as zero.
TEXT_FORM_NUMBERS = {
    "LastPrice", "OpenPrice", "HighestPrice", "LowestPrice", "UpperLimitPrice",
    "LowerLimitPrice", "PreSettlementPrice", "Volume", "PreClosePrice", "Turnover",
    "UpdateMillisec", "OpenInterest", "AveragePrice", "SettlementPrice",
    *(f"{side}{what}{n}" for side in ("Bid", "Ask") for what in ("Price", "Volume")
      for n in range(1, 6)),
}


def kinds(client, count, timeout=30):
    events = []
    for e in client.events(timeout=timeout):
        events.append(e)
        if len(events) == count:
            break
    return events


def test_login_subscription_and_their_events(front, caplog):
    f = front("--trading-day", "20261208", "--front-id", "7", "--instruments", "au2612,IF2612")
    with caplog.at_level(logging.WARNING, logger="mdlink"), \
            mdlink.Client([f.address], **CREDENTIALS) as client:
        login = client.wait_login(timeout=30)
        assert (login.TradingDay, login.BrokerID, login.UserID, login.FrontID) == \
            ("20261208", "9999", "demo", 7)
        assert client.connected and client.logged_in
        client.subscribe(["au2612", "IF2612", "zz9999"])
        events = kinds(client, 5)
        assert [e.kind for e in events] == ["connected", "login", "subscribed", "subscribed",
                                            "subscribed"]
        assert events[1].ok and events[1].login == login
        answers = {e.instrument_id: e.ok for e in events[2:]}
        assert answers == {"au2612": True, "IF2612": True, "zz9999": False}
        # A refused subscription is a warning as well as an event (logged on the
        # library's thread, maybe just after the event was queued).
        wait_until(lambda: any(r.name == "mdlink" for r in caplog.records), what="the warning")
        refused = [r.getMessage() for r in caplog.records if r.name == "mdlink"]
        assert len(refused) == 1 and "subscribed zz9999 refused" in refused[0], refused
        ids = {client.next_tick(timeout=30).InstrumentID for _ in range(10)}
        assert ids == {"au2612", "IF2612"}
        client.unsubscribe("IF2612")
        e = client.next_event(timeout=30)
        assert (e.kind, e.instrument_id, e.ok) == ("unsubscribed", "IF2612", True)
    assert (client.closed, client.connected, client.logged_in) == (True, False, False)
    with pytest.raises(mdlink.ClosedError):
        client.wait_login(timeout=1)


def test_login_timeout_says_why():
    with mdlink.Client(refused_address(), **CREDENTIALS) as client:
        e = client.next_event(timeout=30)
        assert (e.kind, e.reason) == ("disconnected", errno.ECONNREFUSED)
        with pytest.raises(TimeoutError) as late:
            client.wait_login(timeout=0.01)
    assert isinstance(late.value, mdlink.LoginTimeoutError)
    assert late.value.reason == errno.ECONNREFUSED
    assert os.strerror(errno.ECONNREFUSED) in str(late.value)
    assert "every 3 s" in str(late.value)


def test_ids_go_out_and_come_back_in_the_clients_encoding(front):
    f = front("--instruments", "*")
    with mdlink.Client(f.address, **CREDENTIALS) as client:
        client.subscribe(["铜2612"])
        e = client.next_event(timeout=30)
        while e.kind != "subscribed":
            e = client.next_event(timeout=30)
        assert (e.instrument_id, e.ok) == ("铜2612", True)
        assert client.next_tick(timeout=30).InstrumentID == "铜2612"


def test_receive_time_of_ticks_and_batches(front):
    np = optional("numpy")
    f = front("--rate", "200")
    before = time.time_ns()
    with mdlink.Client(f.address, **CREDENTIALS) as client:
        client.subscribe("au2612")
        tick = client.next_tick(timeout=30)
        timed = client.batch(5, timeout=30, min_records=5, with_time=True)
        plain = client.batch(5, timeout=30, min_records=5)
    after = time.time_ns()
    assert before <= tick.receive_time <= after
    assert timed.dtype.itemsize == 416 and plain.dtype.itemsize == 408
    times = timed["receive_time"].astype(np.int64)
    assert list(times) == sorted(times) and before < times[0] and times[-1] < after
    assert times[0] >= tick.receive_time
    row = mdlink.Depth.from_bytes(timed[:1].tobytes()[:408], receive_time=int(times[0]))
    assert row.receive_time == times[0]
    assert bytes(client.batch_bytes(0, with_time=True)) == b""


def test_refused_login_raises_is_an_event_and_is_logged(front, caplog):
    f = front("--refuse-logins")
    with caplog.at_level(logging.INFO, logger="mdlink"):
        with mdlink.Client(f.address, **CREDENTIALS) as client:
            with pytest.raises(mdlink.LoginError) as refused:
                client.wait_login(timeout=30)
            assert refused.value.info.ErrorID != 0
            assert not client.logged_in
            e = [e for e in kinds(client, 2) if e.kind == "login"][0]
            assert not e.ok and e.error.ErrorID == refused.value.info.ErrorID
            assert e.error.ErrorMsg == refused.value.info.ErrorMsg != ""
            f.stop()
            wait_until(lambda: not client.connected, what="the lost link")
            wait_until(lambda: any(r.levelno == logging.WARNING and "disconnected" in r.message
                                   for r in caplog.records), what="the log record")
    lines = [(r.levelname, r.getMessage()) for r in caplog.records if r.name == "mdlink"]
    assert lines[0] == ("INFO", f"mdlink client of {f.address}: connected, logging in")
    assert lines[1][0] == "WARNING" and "login refused: error" in lines[1][1]
    assert lines[2][0] == "WARNING" and "disconnected: connection lost" in lines[2][1]


def expected_record(row, form):
    """What the client hands on for a replayed row sent in a body form."""
    if form == "binary":
        return dict(row)
    expected = {k: (v if k in TEXT_FORM_NUMBERS or k in TEXT_MEMBERS else 0) for k, v in row.items()}
    expected["ActionDay"] = ""
    if form == "joined":
        expected["InstrumentID"] = f"{row['ExchangeID']} {row['ExchangeInstID']} "
    return expected


@pytest.mark.parametrize("form", ["binary", "text", "joined"])
def test_ticks_in_every_body_form(front, tmp_path, form):
    rows = sample_rows("au2612", 4)
    write_replay_csv(tmp_path / "replay.csv", rows)
    f = front("--replay", str(tmp_path / "replay.csv"), "--form", form, "--rate", "50")
    with mdlink.Client([f.address], **CREDENTIALS) as client:
        client.subscribe(["au2612"])
        ticks = []
        for tick in client.ticks(timeout=30):
            ticks.append(tick)
            if len(ticks) == 2 * len(rows):
                break
    # The front loops over its file from the first row.
    expected = [expected_record(r, form) for r in rows] * 2
    assert [t.as_dict() for t in ticks] == expected


def test_batches_hold_the_same_records_as_ticks(front, tmp_path):
    np = optional("numpy")
    rows = sample_rows("au2612", 6)
    write_replay_csv(tmp_path / "replay.csv", rows)
    f = front("--replay", str(tmp_path / "replay.csv"), "--rate", "100")
    with mdlink.Client([f.address], **CREDENTIALS) as client:
        client.subscribe("au2612")
        got = []
        while len(got) < len(rows):
            batch = client.batch(len(rows) - len(got), timeout=30)
            assert batch.dtype == mdlink.depth_dtype() and 0 < len(batch) <= len(rows) - len(got)
            got.extend(batch)
        empty = client.batch(0, timeout=0)
        assert isinstance(empty, np.ndarray) and len(empty) == 0
        # The front loops over its rows: a low-water mark gathers several.
        more = client.batch(len(rows), timeout=60, min_records=len(rows))
        assert len(more) == len(rows) and list(more["Volume"]) == [r["Volume"] for r in rows]
        assert len(client.batch(10, timeout=0.01, min_records=10 ** 6)) <= 10
    for row, rec in zip(rows, got):
        tick = mdlink.Depth.from_bytes(rec.tobytes())
        assert tick.as_dict() == row
        assert rec["LastPrice"] == row["LastPrice"] and rec["InstrumentID"] == b"au2612"


def test_for_quote_notices_are_events(front):
    f = front("--forquote-interval", "0.05")
    with mdlink.Client(f.address, **CREDENTIALS) as client:
        client.subscribe_for_quotes(["au2612"])
        notices = []
        for e in client.events(timeout=30):
            if e.kind == "for_quote_subscribed":
                assert e.instrument_id == "au2612" and e.ok
            if e.kind == "for_quote":
                notices.append(e.notice)
                if len(notices) == 2:
                    break
        assert all(n.InstrumentID == "au2612" and n.ForQuoteSysID for n in notices)
        assert notices[0].ForQuoteSysID != notices[1].ForQuoteSysID


def replay_then_silent(front, tmp_path, count, rate):
    """A front replaying `count` depth records of au2612 at `rate` (0: at
    once) after the login and subscription answers, then silent."""
    rows = sample_rows("au2612", count)
    write_replay_csv(tmp_path / "replay.csv", rows)
    f = front("--replay", str(tmp_path / "replay.csv"), "--rate", str(rate),
              "--silent-after-frames", str(count + 2))
    return f, rows


def test_full_queue_drops_the_oldest_and_counts(front, tmp_path):
    f, rows = replay_then_silent(front, tmp_path, 40, 0)
    with mdlink.Client(f.address, queue_size=8, **CREDENTIALS) as client:
        client.subscribe("au2612")
        wait_until(lambda: client.received == 40, what="all 40 depth frames")
        assert client.dropped == 32 and client.queued == 8 and client._queue.allocated == 8
        # More than the queue can hold is never waited for.
        kept = client.batch(100, timeout=None, min_records=1000)
        assert list(kept["Volume"]) == [r["Volume"] for r in rows[-8:]]
        assert client.next_tick(timeout=0) is None
        assert client.queued == 0 and client.dropped == 32
        # Drained after an overflow, the queue's storage is given back.
        assert client._queue.allocated == 0


def test_a_reader_part_way_keeps_the_drop_policy_and_the_counts(front, tmp_path):
    # A record taken by a reader is gone from the queue: when the queue
    # overflows after, the records left are still the newest, in order.
    # Paced over a second: the first read comes well before the last record.
    f, rows = replay_then_silent(front, tmp_path, 200, 200)
    with mdlink.Client(f.address, queue_size=8, **CREDENTIALS) as client:
        client.subscribe("au2612")
        seen = []

        def counted():
            counts = client.counters()
            seen.append(counts)
            return counts

        wait_until(lambda: counted()["queued"] == 8, what="a full queue")
        first = client.next_tick(timeout=0)
        wait_until(lambda: counted()["received"] == 200, what="all 200 depth frames")
        rest = client.batch(100, timeout=0)
        assert [first.Volume, *rest["Volume"]][1:] == [r["Volume"] for r in rows[-8:]]
        assert first.Volume < rest["Volume"][0]
        counted()
    assert all(c["received"] == c["consumed"] + c["dropped"] + c["queued"] and
               c["queued"] <= 8 for c in seen), seen
    assert seen[-1] == {"received": 200, "consumed": 9, "dropped": 191, "queued": 0}


@pytest.mark.parametrize("ending", ["timeout", "close", "close with records queued"])
def test_a_timeout_told_from_the_end(front, tmp_path, ending):
    f, _ = replay_then_silent(front, tmp_path, 5, 0)
    with mdlink.Client(f.address, **CREDENTIALS) as client:
        client.subscribe("au2612")
        wait_until(lambda: client.received == 5, what="the 5 depth frames")
        if ending == "close":
            assert len(client.batch(5, timeout=0)) == 5
        if ending != "timeout":
            client.close()
        assert not client.at_end if ending != "close" else client.at_end
        read = list(client.ticks(timeout=0.01))
        assert len(read) == (0 if ending == "close" else 5)
        assert client.next_tick(timeout=0.01) is None
        assert (client.at_end, client.closed) == ((False, False) if ending == "timeout" else
                                                  (True, True))


def test_event_queue_is_bounded_too(front):
    f = front("--forquote-interval", "0.01")
    with mdlink.Client(f.address, event_queue_size=3, **CREDENTIALS) as client:
        client.subscribe_for_quotes("au2612")
        wait_until(lambda: client.events_dropped >= 5, what="dropped events")
        events = list(client.events(timeout=0))
        assert 1 <= len(events) <= 3 and all(e.kind == "for_quote" for e in events)


def test_links_hold_two_fronts_and_deliver_each_record_once(front):
    feed = ("--shared-feed", "--rate", "50", "--instruments", "au2612", "--seed", "3")
    a = front(*feed)
    b = front(*feed, "--delay-ms", "5")
    with mdlink.Client([a.address, b.address], links=2, **CREDENTIALS) as client:
        client.wait_login(timeout=30)
        client.subscribe(["au2612"])
        slots = [client.next_tick(timeout=30).Volume for _ in range(20)]
        a.stop()  # the leading front dies: the other link carries on
        slots += [client.next_tick(timeout=30).Volume for _ in range(20)]
        assert slots == sorted(set(slots)), "each slot once, in order"
        links = client.link_counters()
        assert [c["fronts"] for c in links] == [a.address, b.address]
        assert sum(c["first"] for c in links) >= len(slots)
        assert len(links[0]["late"]) == len(mdlink.LATE_BOUNDS_US) + 1
        assert [c["logged_in"] for c in links] == [False, True]
        assert links[1]["records"] >= 20 and links[1]["last_record_age"] < 30
        events = [(e.kind, e.link, e.fronts) for e in client.events(timeout=0)
                  if e.kind in ("link_up", "link_down", "disconnected")]
        # Each link usable, then the first lost; the application is not disconnected.
        assert sorted(events[:2]) == [("link_up", 0, a.address), ("link_up", 1, b.address)]
        assert events[2:] == [("link_down", 0, a.address)]
    assert client.link_counters() == []
    with pytest.raises(ValueError, match="links"):
        mdlink.Client([a.address], links=9)


class CloseOnDepth(mdlink.Handler):
    def __init__(self):
        self.client = None

    def on_depth(self, tick):
        self.client.close()


# An endless timeout waits for what comes (a tick, an event, the close), as
# None does; before, it overflowed into no wait at all.
ENDLESS_WAITS = {
    "next_tick": lambda c: c.next_tick(timeout=math.inf) is not None,
    "ticks": lambda c: next(c.ticks(timeout=math.inf)) is not None,
    "batch": lambda c: len(c.batch(timeout=math.inf)) > 0,
    "batch_bytes": lambda c: len(c.batch_bytes(timeout=1e12)) > 0,
    "anext_tick": lambda c: asyncio.run(c.anext_tick(timeout=math.inf)) is not None,
    "next_event": lambda c: c.next_event(timeout=math.inf) is not None,
    "wait_login": lambda c: c.wait_login(timeout=math.inf) is not None,
    "join": lambda c: c.join(timeout=math.inf),
}


@pytest.mark.parametrize("call", ENDLESS_WAITS)
def test_an_endless_timeout_waits(front, call):
    f = front("--rate", "20")
    handler = CloseOnDepth() if call == "join" else None
    with mdlink.Client(f.address, **CREDENTIALS, handler=handler) as client:
        if handler:
            handler.client = client
        client.subscribe("au2612")
        assert ENDLESS_WAITS[call](client)


def test_with_on_a_closed_client_raises():
    client = mdlink.Client(refused_address())
    for name in ("encoding", "fronts"):  # set once, at construction
        with pytest.raises(AttributeError):
            setattr(client, name, "utf-8")
    client.close()
    with pytest.raises(mdlink.ClosedError):
        with client:
            pass

    async def awaited():
        async with client:
            pass
    with pytest.raises(mdlink.ClosedError):
        asyncio.run(awaited())
