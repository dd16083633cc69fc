"""asyncio: awaiting ticks, batches, events and the login; timeouts,
cancellation and close ending awaits; no thread per waiter."""

import asyncio
import threading

import pytest

import mdlink
from conftest import CREDENTIALS, optional, wait_until


def test_awaiting_every_kind_of_answer(front):
    np = optional("numpy")
    f = front("--rate", "200", "--trading-day", "20261208")

    async def main():
        async with mdlink.Client(f.address, **CREDENTIALS) as client:
            login = await client.await_login(timeout=30)
            client.subscribe("au2612")
            kinds = [(await client.anext_event(timeout=30)).kind for _ in range(3)]
            first = await client.anext_tick(timeout=30)
            ticks = []
            async for tick in client.aticks(timeout=30):
                ticks.append(tick)
                if len(ticks) == 5:
                    break
            batch = await client.abatch(100, timeout=30, min_records=20, with_time=True)
        return client, login, kinds, first, ticks, batch

    client, login, kinds, first, ticks, batch = asyncio.run(main())
    assert client.closed and login.TradingDay == "20261208"
    assert kinds == ["connected", "login", "subscribed"]
    assert first.InstrumentID == "au2612" and all(t.InstrumentID == "au2612" for t in ticks)
    assert [t.receive_time for t in ticks] == sorted(t.receive_time for t in ticks)
    assert 20 <= len(batch) <= 100 and batch.dtype == mdlink.depth_dtype(with_time=True)
    assert np.all(np.diff(batch["receive_time"].astype(np.int64)) >= 0)


def test_timeouts_and_the_closed_client(front):
    f = front()

    async def main():
        client = mdlink.Client(f.address, **CREDENTIALS)
        nothing = await client.anext_tick(timeout=0.05)  # nothing subscribed
        ended = [t async for t in client.aticks(timeout=0.05)]
        empty = await client.abatch(10, timeout=0.05)
        client.close()
        # What was queued is still read, then the awaits end.
        after = await client.anext_tick(timeout=None), [e async for e in client.aevents()]
        with pytest.raises(mdlink.ClosedError):
            await client.await_login()
        return nothing, ended, len(empty), after

    nothing, ended, empty, (tick, events) = asyncio.run(main())
    assert (nothing, ended, empty, tick) == (None, [], 0, None)
    assert events and all(e.kind in ("connected", "login") for e in events)


@pytest.mark.parametrize("closer", ["another thread", "the event loop"])
def test_close_ends_pending_awaits(front, closer):
    f = front()

    async def main():
        client = mdlink.Client(f.address, **CREDENTIALS)
        assert [(await client.anext_event(timeout=30)).kind for _ in range(2)] == \
            ["connected", "login"]
        threads = threading.active_count()
        waits = [asyncio.create_task(client.anext_tick()),
                 asyncio.create_task(client.abatch(10, min_records=10)),
                 asyncio.create_task(client.anext_event())]
        await asyncio.sleep(0.05)
        assert not any(w.done() for w in waits) and threading.active_count() == threads
        if closer == "the event loop":
            client.close()
        else:
            await asyncio.get_running_loop().run_in_executor(None, client.close)
        return await asyncio.wait_for(asyncio.gather(*waits), 60)

    tick, batch, event = asyncio.run(main())
    assert (tick, event, len(batch)) == (None, None, 0)


def test_cancelled_await_leaves_the_client_usable_across_event_loops_and_threads(front):
    f = front("--rate", "100")
    client = mdlink.Client(f.address, **CREDENTIALS)

    async def cancelled_then_a_tick():
        waiting = asyncio.create_task(client.anext_tick())
        await asyncio.sleep(0.05)
        waiting.cancel()
        with pytest.raises(asyncio.CancelledError):
            await waiting
        assert not client._wake._futures
        client.subscribe("au2612")
        return await client.anext_tick(timeout=30)

    first = asyncio.run(cancelled_then_a_tick())
    second = asyncio.run(client.anext_tick(timeout=30))  # a new loop takes the descriptor over
    pulled = client.next_tick(timeout=30)
    assert first.InstrumentID == "au2612"
    assert first.receive_time <= second.receive_time <= pulled.receive_time
    client.close()
    wait_until(lambda: client.closed, what="closed")
