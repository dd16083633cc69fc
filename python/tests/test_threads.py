"""Push callbacks, the GIL and the library's thread: closing from anywhere,
exceptions in callbacks, waits that release the GIL and yield to Ctrl-C.

A fault here shows as a deadlock: the watchdog in conftest ends the run."""

import _thread
import gc
import logging
import sys
import threading
import traceback

import pytest

import mdlink
from conftest import CREDENTIALS, refused_address, wait_until



class Recorder(mdlink.Handler):
    def __init__(self):
        self.calls = []
        self.ticks = 0
        self.loop_thread = None

    def on_connected(self):
        self.calls.append(("connected",))

    def on_login(self, login, error):
        self.calls.append(("login", login.UserID, error.ErrorID if error else None))

    def on_subscribed(self, event):
        self.calls.append((event.kind, event.instrument_id, event.ok))

    def on_for_quote(self, notice):
        self.calls.append(("for_quote", notice.InstrumentID))

    def on_depth(self, tick):
        self.loop_thread = threading.get_ident()
        self.ticks += 1


def test_push_handler_gets_every_kind_on_the_library_thread(front):
    f = front("--forquote-interval", "0.05", "--rate", "50")
    h = Recorder()
    with mdlink.Client(f.address, handler=h, **CREDENTIALS) as client:
        client.subscribe("au2612")
        client.subscribe_for_quotes("au2612")
        wait_until(lambda: h.ticks >= 3 and ("for_quote", "au2612") in h.calls, what="callbacks")
        assert h.calls[:2] == [("connected",), ("login", "demo", 0)]
        assert ("subscribed", "au2612", True) in h.calls
        assert ("for_quote_subscribed", "au2612", True) in h.calls
        assert h.loop_thread != threading.get_ident()
        # Pushed kinds are not queued as well.
        assert client.queued == 0 and client.next_event(timeout=0) is None


def test_plain_callables_as_the_handler(front):
    f = front("--rate", "200")
    ticks, events = [], []
    done = threading.Event()

    def on_tick(tick):
        ticks.append(tick.InstrumentID)
        if len(ticks) == 3:
            done.set()

    with mdlink.Client(f.address, **CREDENTIALS, on_tick=on_tick, on_event=events.append) as c:
        c.subscribe("au2612")
        assert done.wait(60)
        assert c.next_event(timeout=0) is None and c.next_tick(timeout=0) is None  # none queued
    assert ticks[:3] == ["au2612"] * 3
    # Kinds are enum members equal to today's strings, reasons to their numbers.
    kinds = [e.kind for e in events]
    assert kinds[:3] == ["connected", "login", "subscribed"]
    assert kinds[:3] == [mdlink.EventKind.CONNECTED, mdlink.EventKind.LOGIN,
                         mdlink.EventKind.SUBSCRIBED]
    assert f"{kinds[0]}" == str(kinds[0]) == "connected" and hash(kinds[0]) == hash("connected")
    assert mdlink.LINK_LOST == 0x2001 and mdlink.Reason(0x2002) is mdlink.HEARTBEAT_TIMEOUT
    assert mdlink.Event("disconnected", reason=0x2001).reason is mdlink.Reason.LINK_LOST
    assert mdlink.Event("disconnected", reason=111).reason == 111


def test_kinds_the_handler_leaves_out_are_queued(front):
    class OnlyDepth:
        ticks = 0

        def on_depth(self, tick):
            self.ticks += 1

    f = front("--rate", "50")
    h = OnlyDepth()
    with mdlink.Client(f.address, handler=h, **CREDENTIALS) as client:
        client.subscribe("au2612")
        wait_until(lambda: h.ticks >= 2, what="pushed ticks")
        assert [e.kind for e in client.events(timeout=0)][:3] == ["connected", "login", "subscribed"]
        assert client.queued == 0


def test_exception_in_callback_is_logged_counted_and_link_goes_on(front, caplog):
    class Raising(mdlink.Handler):
        ticks = 0

        def on_depth(self, tick):
            self.ticks += 1
            raise ValueError(f"bad tick {self.ticks}")

        def on_login(self, login, error):
            raise RuntimeError("bad login handler")

    f = front("--rate", "100")
    h = Raising()
    with caplog.at_level(logging.ERROR, logger="mdlink"):
        with mdlink.Client(f.address, handler=h, **CREDENTIALS) as client:
            client.subscribe("au2612")
            wait_until(lambda: h.ticks >= 5, what="ticks after exceptions")
            assert client.logged_in and client.connected
            assert client.callback_errors >= 6
    messages = [r for r in caplog.records if r.name == "mdlink" and r.levelno == logging.ERROR]
    assert any("on_depth" in r.getMessage() and r.exc_info[0] is ValueError for r in messages)
    assert any("login" in r.getMessage() and r.exc_info[0] is RuntimeError for r in messages)
    # Each with the traceback into the handler's method.
    for r in messages:
        frames = traceback.extract_tb(r.exc_info[2])
        assert frames and frames[-1].name in ("on_depth", "on_login"), r.getMessage()


def test_close_from_inside_a_callback(front):
    class Closing(mdlink.Handler):
        client = None
        calls = 0

        def on_depth(self, tick):
            self.calls += 1
            self.client.close()
            self.closed_inside = self.client.closed

    f = front("--rate", "0")
    h = Closing()
    client = mdlink.Client(f.address, handler=h, **CREDENTIALS)
    h.client = client
    client.subscribe("au2612")
    assert client.join(timeout=60)
    assert h.calls == 1 and h.closed_inside
    client.close()  # again, from here: nothing left to do
    assert h.calls == 1


@pytest.mark.parametrize("how", ["close", "del", "a second close"])
def test_close_while_a_callback_runs(front, how):
    entered = threading.Event()
    closing = threading.Event()

    class Busy(mdlink.Handler):
        calls = 0
        running = False

        def on_depth(self, tick):
            self.calls += 1
            self.running = True
            entered.set()
            # Python work that needs the GIL while the main thread closes.
            while not closing.is_set():
                pass
            sum(range(100000))
            self.running = False

    f = front("--rate", "0")
    h = Busy()
    client = mdlink.Client(f.address, handler=h, **CREDENTIALS)
    client.subscribe("au2612")
    assert entered.wait(60)
    first = None
    if how == "a second close":  # waits like the first, which is still waiting
        first = threading.Thread(target=client.close)
        first.start()
        wait_until(lambda: client.closed, what="the first close")
    closing.set()
    if how == "del":
        del client
        gc.collect()
    else:
        client.close()
    assert not h.running
    if first:
        first.join()
    calls = h.calls
    # Once another client has logged in through the same loop thread, a late
    # callback of the closed one would have run.
    with mdlink.Client(f.address, **CREDENTIALS) as other:
        other.wait_login(timeout=60)
    assert h.calls == calls


WAITS_INSIDE_A_HANDLER = {
    "next_tick": lambda c: c.next_tick(timeout=3),
    "ticks": lambda c: next(c.ticks()),
    "batch": lambda c: c.batch(10, timeout=None),
    "wait_login": lambda c: c.wait_login(timeout=3),
    "next_event": lambda c: c.next_event(timeout=1),
    "events": lambda c: list(c.events()),
}


def test_waits_inside_a_handler_raise_at_once(front):
    class Waiting(mdlink.Handler):
        client = None
        outcome = None

        def on_subscribed(self, event):
            outcome = {}
            for name, wait in WAITS_INSIDE_A_HANDLER.items():
                try:
                    wait(self.client)
                    outcome[name] = "returned"
                except RuntimeError as e:
                    outcome[name] = "wait" in str(e) and "RuntimeError"
            # Taking what is there does not wait; join returns at once.
            outcome["timeout=0"] = (self.client.next_tick(timeout=0), self.client.join())
            self.outcome = outcome

    f = front()
    h = Waiting()
    with mdlink.Client(f.address, handler=h, **CREDENTIALS) as client:
        h.client = client
        client.subscribe("au2612")
        wait_until(lambda: h.outcome is not None, what="the handler's outcome")
    assert h.outcome == {**{name: "RuntimeError" for name in WAITS_INSIDE_A_HANDLER},
                         "timeout=0": (None, False)}


def test_close_from_another_thread_ends_the_iteration(front):
    f = front("--rate", "20")
    client = mdlink.Client(f.address, **CREDENTIALS)
    client.subscribe("au2612")
    seen = []
    for tick in client.ticks():  # no time limit: only the close ends it
        seen.append(tick)
        if len(seen) == 1:
            threading.Thread(target=client.close).start()
    assert client.closed and len(seen) >= 1
    with pytest.raises(mdlink.ClosedError):
        client.subscribe("IF2612")


def test_waiting_releases_the_gil(front):
    f = front()
    client = mdlink.Client(f.address, **CREDENTIALS)
    progress = []

    def worker():
        wait_until(lambda: client.waiting == 1, what="the main thread waiting")
        for i in range(1000):  # runs only if the waiting thread let go of the GIL
            progress.append(i)
        client.close()

    t = threading.Thread(target=worker)
    t.start()
    assert client.next_tick(timeout=None) is None  # nothing subscribed: only the close ends it
    t.join()
    assert len(progress) == 1000


@pytest.mark.parametrize("request_kind", ["subscribe", "unsubscribe"])
def test_a_large_request_lets_go_of_the_gil(front, request_kind):
    # With the switch interval out of reach, the main thread gives the GIL up
    # only where the binding lets it go; a handler of another client that
    # runs between two reads of its count ran during the request itself.
    f = front("--rate", "1000")
    counter = Recorder()
    ids = [f"x{i:06d}" for i in range(20000)]
    with mdlink.Client(refused_address()) as idle, \
            mdlink.Client(f.address, **CREDENTIALS, handler=counter) as ticking:
        ticking.subscribe("au2612")
        wait_until(lambda: counter.ticks > 0, what="the first tick")
        joined = b"\0".join(i.encode() for i in ids) + b"\0"
        interval = sys.getswitchinterval()
        sys.setswitchinterval(1000)
        try:
            for attempt in range(100):
                if request_kind == "unsubscribe":
                    idle._session.request(joined, False, True)
                before = counter.ticks
                idle._session.request(joined, False, request_kind == "subscribe")
                if counter.ticks != before:
                    break
        finally:
            sys.setswitchinterval(interval)
        assert counter.ticks != before, "no callback ran during 100 requests"


def test_ctrl_c_interrupts_a_wait(front):
    f = front()
    with mdlink.Client(f.address, **CREDENTIALS) as client:
        def interrupter():
            wait_until(lambda: client.waiting == 1, what="the main thread waiting")
            _thread.interrupt_main()

        t = threading.Thread(target=interrupter)
        t.start()
        with pytest.raises(KeyboardInterrupt):
            client.next_tick(timeout=None)  # nothing subscribed
        t.join()
        assert client.waiting == 0 and not client.closed
