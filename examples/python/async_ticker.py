#!/usr/bin/env python3
"""A live ticker in asyncio: ticks and link events awaited side by side in
one event loop, with no thread of its own.

    build/bin/mdfront --port 41213 &
    PYTHONPATH=build/python /usr/bin/python3 examples/python/async_ticker.py \\
        tcp://127.0.0.1:41213 au2612 IF2612

(or, after `pip install --no-build-isolation .` into a virtual environment,
that environment's python without PYTHONPATH). Ctrl-C stops it.
"""

import asyncio
import sys

import mdlink


async def show_ticks(client):
    async for tick in client.aticks():
        print(f"{tick.UpdateTime}.{tick.UpdateMillisec:03d} {tick.InstrumentID:8} "
              f"{tick.LastPrice:10.2f}  {tick.BidPrice1:10.2f} / {tick.AskPrice1:<10.2f}")


async def show_events(client):
    async for event in client.aevents():
        if event.kind == "disconnected":
            print("disconnected:", mdlink.reason_text(event.reason))
        elif event.kind in ("subscribed", "unsubscribed") and not event.ok:
            print(f"{event.kind} {event.instrument_id}: {event.error.ErrorMsg}")


async def main(front, instruments):
    async with mdlink.Client([front], broker="9999", user="demo", password="demo") as client:
        login = await client.await_login(timeout=30)
        print(f"logged in, trading day {login.TradingDay}")
        client.subscribe(instruments)
        await asyncio.gather(show_ticks(client), show_events(client))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    try:
        asyncio.run(main(sys.argv[1], sys.argv[2:]))
    except KeyboardInterrupt:
        pass
