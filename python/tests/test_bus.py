"""mdlink.BusReader: the records mdrelay published, read back from the stream
with the same readers as a Client's."""

import asyncio
import datetime

import pytest

import mdlink
from conftest import Relay, refused_address, wait_until


def publish(front, server, instruments, count, folder):
    """mdrelay until `count` records are stored; how many it received."""
    relay = Relay(front, server, instruments, folder)
    wait_until(lambda: relay.status().get("acknowledged", 0) >= count, what="records stored")
    assert relay.stop() == 0
    return relay.status()["received"]


def test_from_a_time_exactly_what_was_stored_since(front, nats_server, tmp_path):
    f = front("--rate", "200", "--stamp-sequence")
    publish(f, nats_server, "au2612", 100, tmp_path)  # stored (and the relay gone) before
    since = datetime.datetime.now()
    later = publish(f, nats_server, "IF2612", 100, tmp_path)  # a new link numbers from 1
    with mdlink.BusReader(nats_server.url, since=since, to_end=True) as reader:
        ticks = list(reader.ticks(timeout=60))
        assert reader.at_end and not reader.closed  # the end, told from a timeout and a close
    assert [t.InstrumentID for t in ticks] == ["IF2612"] * later
    assert [t.Volume for t in ticks] == list(range(1, later + 1))
    times = [t.receive_time for t in ticks]  # the relay's, from the header
    assert times == sorted(times) and times[0] > since.timestamp() * 1e9


def test_last_records_in_a_batch_and_all_awaited(front, nats_server, tmp_path):
    f = front("--rate", "200", "--stamp-sequence")
    publish(f, nats_server, "au2612,IF2612", 200, tmp_path)

    async def everything():
        async with mdlink.BusReader(nats_server.url, ["IF2612"], from_start=True,
                                    to_end=True) as reader:
            return [t.Volume async for t in reader.aticks(timeout=60)]

    volumes = asyncio.run(everything())
    assert volumes == sorted(volumes) and len(volumes) >= 50
    with mdlink.BusReader([nats_server.url], "IF2612", last=10, to_end=True) as reader:
        batch = reader.batch(100, timeout=60, min_records=10)
    assert list(batch["Volume"]) == volumes[-10:]
    assert set(batch["InstrumentID"]) == {b"IF2612"}


def test_refusals(nats_server):
    with pytest.raises(mdlink.BusError):
        mdlink.BusReader(refused_address().replace("tcp", "nats"))
    with pytest.raises(mdlink.BusError, match="no stream NONE"):
        mdlink.BusReader(nats_server.url, stream="NONE")
    with pytest.raises(ValueError, match="since and last"):
        mdlink.BusReader(nats_server.url, since="10m", last=5)
    with pytest.raises(ValueError, match="not a time"):
        mdlink.BusReader(nats_server.url, since="yesterday")
    with pytest.raises(TypeError):
        mdlink.BusReader(nats_server.url, since=1.5)


def test_durable_resumed_to_the_end_reads_what_came_since(front, nats_server, tmp_path):
    f = front("--rate", "200", "--stamp-sequence")
    first = publish(f, nats_server, "au2612", 100, tmp_path)
    with mdlink.BusReader(nats_server.url, durable="desk", from_start=True, to_end=True) as reader:
        assert [t.Volume for t in reader.ticks(timeout=60)] == list(range(1, first + 1))
    later = publish(f, nats_server, "au2612", 100, tmp_path)  # a new link numbers from 1
    with mdlink.BusReader(nats_server.url, durable="desk", to_end=True) as reader:
        assert [t.Volume for t in reader.ticks(timeout=60)] == list(range(1, later + 1))
