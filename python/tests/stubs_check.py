"""Type-checked against mdlink's stubs, never run (.ci/run):

    MYPYPATH=python mypy --python-version 3.9 --warn-unused-ignores python/tests/stubs_check.py

Each ignored line must be an error: were a client typed Any (as a Self the
Python version lacks makes it), its ignore would go unused and fail the check."""

import math

import mdlink


def pulled() -> None:
    with mdlink.Client("tcp://127.0.0.1:41213", "9999", "demo", "demo") as client:
        client.subscribe(["au2612", "IF2612"])
        tick = client.next_tick(timeout=math.inf)
        if tick is not None:
            price: float = tick.LastPrice
            print(price, tick.InstrumentID.upper())
        client.subscribe(2612)  # type: ignore[arg-type]
        client.next_tick(timeout="1")  # type: ignore[arg-type]
        client.no_such_call()  # type: ignore[attr-defined]
        wrong: str = client.received  # type: ignore[assignment]
        print(wrong, mdlink.to_frame(client.batch(with_time=True), aware=True))


async def awaited() -> None:
    async with mdlink.Client(["tcp://127.0.0.1:41213"]) as client:
        async for tick in client.aticks(timeout=1.0):
            print(tick.Volume + 1)
        await client.anext_tick(timeout=[])  # type: ignore[arg-type]


def bus() -> None:
    with mdlink.BusReader("nats://127.0.0.1:4222", ["au2612"], to_end=True) as reader:
        for tick in reader.ticks(timeout=1.0):
            print(tick.BidPrice1)
        reader.subscribe("au2612")  # type: ignore[attr-defined]

