"""Type-checked against mdlink's stubs, never run (.ci/run):

    MYPYPATH=python mypy --python-version 3.9 --warn-unused-ignores python/tests/stubs_check.py

Each ignored line must be an error: were a client typed Any (as a Self the
Python version lacks makes it), its ignore would go unused and fail the check."""

import datetime
import math

import mdlink
import mdlink.dask


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



def captures() -> None:
    with mdlink.Client("tcp://127.0.0.1:41213", capture="captures") as client:
        stats = client.capture_stats()
        if stats is not None:
            print(stats["dropped"])
    records = mdlink.read_capture("captures", ["au2612"], start=datetime.datetime(2026, 12, 10))
    print(mdlink.to_frame(records, aware=True))
    for chunk in mdlink.iter_capture(["a.mdcap", "b.mdcap"], max_records=1000, end=0):
        print(len(chunk))
    blocks: int = mdlink.capture_index("a.mdcap").blocks[0].records
    print(blocks, mdlink.dask.read_captures("captures/*.mdcap", partition_records=10))
    mdlink.iter_capture("captures", max_records="1000")  # type: ignore[arg-type]
    mdlink.Client("tcp://127.0.0.1:41213", capture=7)  # type: ignore[arg-type]
    wrong: str = mdlink.capture_index("a.mdcap").blocks  # type: ignore[assignment]
