"""Failover and re-subscription. Run on the fast-time base library (every
interval divided by 20), in a process of its own: a heartbeat timeout then
takes about a second, a reconnection 150 ms."""

import pytest

import mdlink
from conftest import FASTTIME, sample_rows, write_replay_csv

CREDENTIALS = dict(broker="9999", user="demo", password="demo")

pytestmark = pytest.mark.skipif(not FASTTIME, reason="needs the fast-time base library")


def replay(tmp_path, name, price):
    rows = sample_rows("au2612", 3)
    for r in rows:
        r["LastPrice"] = price
    path = tmp_path / name
    write_replay_csv(path, rows)
    return str(path)


def test_silent_front_fails_over_and_subscriptions_follow(front, tmp_path):
    a = front("--replay", replay(tmp_path, "a.csv", 100.0), "--front-id", "1", "--rate", "20",
              "--silent-after-seconds", "0.5")
    b = front("--replay", replay(tmp_path, "b.csv", 200.0), "--front-id", "2", "--rate", "20")
    with mdlink.Client([a.address, b.address], **CREDENTIALS) as client:
        client.subscribe("au2612")  # once: the client subscribes again on the next front
        prices = set()
        for tick in client.ticks(timeout=60):
            prices.add(tick.LastPrice)
            if 200.0 in prices:
                break
        assert prices == {100.0, 200.0}
        events = [(e.kind, e.reason, e.login.FrontID if e.login else None, e.instrument_id)
                  for e in client.events(timeout=0)]
    assert events == [
        ("connected", 0, None, None), ("login", 0, 1, None), ("subscribed", 0, None, "au2612"),
        ("disconnected", mdlink.HEARTBEAT_TIMEOUT, None, None),
        ("connected", 0, None, None), ("login", 0, 2, None), ("subscribed", 0, None, "au2612"),
    ]


def test_lost_link_reconnects_and_subscribes_again(front):
    # Login answer, two subscription answers, two depth records, then the link closes.
    f = front("--close-after-frames", "5", "--rate", "50", "--instruments", "au2612,IF2612")
    with mdlink.Client(f.address, **CREDENTIALS) as client:
        client.subscribe(["au2612", "IF2612"])
        for _ in range(6):  # three connections' worth
            assert client.next_tick(timeout=60) is not None
        kinds = [(e.kind, e.reason) for e in client.events(timeout=0)]
    logins = kinds.count(("login", 0))
    assert logins >= 3
    assert kinds.count(("disconnected", mdlink.LINK_LOST)) >= logins - 1
    assert kinds.count(("subscribed", 0)) >= 2 * logins - 1
