#!/usr/bin/env python3
"""A live ticker: one line per depth record, connection events as they come.

    build/bin/mdfront --port 41213 &
    PYTHONPATH=build/python /usr/bin/python3 examples/python/ticker.py \
        tcp://127.0.0.1:41213 au2612 IF2612

(or, after `pip install --no-build-isolation .` into a virtual environment,
that environment's python without PYTHONPATH). Ctrl-C stops it.
"""

import sys

import mdlink


class Events(mdlink.Handler):
    """Connection events pushed from the library's thread; ticks are pulled below."""

    def on_connected(self):
        print("connected, logging in")

    def on_disconnected(self, reason):
        print("disconnected:", mdlink.reason_text(reason))

    def on_login(self, login, error):
        if error is not None and error.ErrorID != 0:
            print(f"login refused: {error.ErrorMsg} ({error.ErrorID})")
        else:
            print(f"logged in, trading day {login.TradingDay}")

    def on_subscribed(self, event):
        print(f"{event.kind} {event.instrument_id}" + ("" if event.ok else f": {event.error.ErrorMsg}"))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    front, instruments = sys.argv[1], sys.argv[2:]
    with mdlink.Client([front], broker="9999", user="demo", password="demo",
                       handler=Events()) as client:
        client.subscribe(instruments)
        try:
            for tick in client.ticks():
                print(f"{tick.UpdateTime}.{tick.UpdateMillisec:03d} {tick.InstrumentID:8} "
                      f"{tick.LastPrice:10.2f}  {tick.BidVolume1:5d} {tick.BidPrice1:10.2f} / "
                      f"{tick.AskPrice1:<10.2f} {tick.AskVolume1:<5d}  vol {tick.Volume}")
        except KeyboardInterrupt:
            pass
        print(f"{client.received} records received, {client.dropped} dropped")


if __name__ == "__main__":
    main()
