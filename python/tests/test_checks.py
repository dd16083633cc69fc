"""Bad arguments fail at once, in plain words naming the argument and what
it accepts, before anything reaches the library."""

import asyncio

import pytest

import mdlink
from conftest import CREDENTIALS, optional, refused_address

GOOD = "tcp://127.0.0.1:41213"

# (call of the package with a bad argument, exception, words the message must hold)
CALL_CASES = [
    (lambda: mdlink.Client("tcp://127.0.0.1"), ValueError, "fronts[0] 'tcp://127.0.0.1'"),
    (lambda: mdlink.Client("tcp://127.0.0.1:99999"), ValueError, "from 1 to 65535"),
    (lambda: mdlink.Client(""), ValueError, "fronts[0] ''"),
    (lambda: mdlink.Client([]), ValueError, "at least one front"),
    (lambda: mdlink.Client(" " + GOOD), ValueError, "'tcp://'"),
    (lambda: mdlink.Client("http://127.0.0.1:80"), ValueError, "'tcp://'"),
    (lambda: mdlink.Client("udp://127.0.0.1:41213"), ValueError, "the only scheme"),
    (lambda: mdlink.Client("tcp://:41213"), ValueError, "no host"),
    (lambda: mdlink.Client(f"tcp://{'h' * 128}:1"), ValueError, "longer than 127"),
    (lambda: mdlink.Client(GOOD.encode()), TypeError, "fronts must be a str or a list of str"),
    (lambda: mdlink.Client([GOOD, 41213]), TypeError, "fronts[1] must be a str"),
    (lambda: mdlink.Client(41213), TypeError, "not int"),
    (lambda: mdlink.Client(GOOD, broker=9999), TypeError, "broker must be a str"),
    (lambda: mdlink.Client(GOOD, user="u" * 16), ValueError, "user must be at most 15 bytes"),
    (lambda: mdlink.Client(GOOD, password="p\0"), ValueError, "no NUL"),
    (lambda: mdlink.Client(GOOD, queue_size=0), ValueError, "queue_size must be at least 1"),
    (lambda: mdlink.Client(GOOD, queue_size="8"), TypeError, "queue_size must be an int"),
    (lambda: mdlink.Client(GOOD, event_queue_size=1.5), TypeError, "event_queue_size"),
    (lambda: mdlink.Client(GOOD, encoding=b"utf-8"), TypeError, "encoding must be a str"),
    (lambda: mdlink.Client(GOOD, encoding="no-such-codec"), ValueError,
     "encoding 'no-such-codec' is no codec"),
    (lambda: mdlink.Client(GOOD, encoding="utf-16"), ValueError, "does not write ASCII"),
    (lambda: mdlink.Client(GOOD, encoding="base64"), ValueError, "encoding 'base64'"),
    (lambda: mdlink.Client(GOOD, queue_size=2**64), ValueError, "queue_size must be at most"),
    (lambda: mdlink.Client(GOOD, event_queue_size=2**64), ValueError, "event_queue_size"),
    (lambda: mdlink.Client(GOOD, links=9), ValueError, "links must be at most 8"),
    (lambda: mdlink.Client(GOOD, handler=object()), TypeError, "handler must be a mdlink.Handler"),
    (lambda: mdlink.Client(GOOD, handler=mdlink.Handler), TypeError, "not the class Handler"),
    (lambda: mdlink.Client(GOOD, on_tick=5), TypeError, "on_tick must be a callable"),
    (lambda: mdlink.Client(GOOD, on_event="print"), TypeError, "on_event must be a callable"),
    (lambda: mdlink.Client(GOOD, handler=mdlink.Handler(), on_tick=print), TypeError,
     "either handler or on_tick"),
    # Calls of the package itself.
    (lambda: mdlink.reason_text("0x2001"), TypeError, "reason must be an int"),
    (lambda: mdlink.Depth.from_bytes(b"au2612", encoding="nope"), ValueError,
     "encoding 'nope'"),
    (lambda: mdlink.Depth.from_bytes(b"au2612", encoding=8), TypeError, "encoding must be a str"),
    (lambda: mdlink.to_frame(b"not records", aware=True), TypeError, "not bytes"),
    (lambda: mdlink.to_frame(7, aware=True), TypeError, "not int"),
    (lambda: mdlink.to_frame([mdlink.Depth(), "x"], aware=True), TypeError, "records[1] is a str"),
    (lambda: mdlink.to_frame(numpy().zeros(3), aware=True), TypeError, "not an array of float64"),
    (lambda: mdlink.to_frame(batch(), encoding="nope", aware=True), ValueError, "encoding 'nope'"),
    (lambda: mdlink.to_frame(batch(), holidays=["x"], aware=True), ValueError, "holidays[0] 'x'"),
    (lambda: mdlink.to_frame(batch(), aware="yes"), TypeError, "aware must be True or False"),
    (lambda: mdlink.exchange_times(batch(), holidays=["2026-10-01", 5]), TypeError,
     "holidays[1] must be a date"),
    (lambda: mdlink.exchange_times(batch(), holidays="2026-10-01"), TypeError,
     "holidays must be a list"),
    (lambda: mdlink.exchange_times([1, 2]), TypeError, "exchange_times takes"),
]

if mdlink._core.has_bus:
    CALL_CASES += [
        (lambda: mdlink.BusReader("nats://127.0.0.1:1", encoding="nope"), ValueError,
         "encoding 'nope'"),
        (lambda: mdlink.BusReader("nats://127.0.0.1:1", queue_size=2**64), ValueError,
         "queue_size must be at most"),
        (lambda: mdlink.BusReader("nats://127.0.0.1:1", last=-1), ValueError,
         "last must be at least 0"),
        (lambda: mdlink.BusReader("nats://127.0.0.1:1", ["au2612", 5]), TypeError,
         "instrument_ids[1]"),
    ]


def numpy():
    return optional("numpy")


def batch():
    """Two depth records as Client.batch() gives them (pandas needed for to_frame)."""
    optional("pandas")
    return numpy().zeros(2, dtype=mdlink.depth_dtype())

# (call on an open client, exception, words the message must hold)
REQUEST_CASES = [
    (lambda c: c.subscribe("x" * 31), ValueError, "1 to 30 bytes"),
    (lambda c: c.subscribe(["au2612", "au\x002612"]), ValueError, "instrument_ids[1]"),
    (lambda c: c.subscribe(""), ValueError, "instrument_ids[0] ''"),
    (lambda c: c.subscribe("铜" * 16), ValueError, "this is 32"),
    (lambda c: c.subscribe("\U0001F600"), ValueError, "cannot be written"),
    (lambda c: c.subscribe(b"au2612"), TypeError, "not bytes"),
    (lambda c: c.subscribe([2612]), TypeError, "instrument_ids[0] must be a str"),
    (lambda c: c.subscribe(None), TypeError, "not NoneType"),
    (lambda c: c.unsubscribe_for_quotes(["ok", 1.0]), TypeError, "instrument_ids[1]"),
    (lambda c: c.next_tick(timeout="1"), TypeError, "timeout must be a number"),
    (lambda c: c.next_event(timeout=float("nan")), ValueError, "not nan"),
    (lambda c: c.next_tick(timeout=-1), ValueError, "seconds from 0"),
    (lambda c: next(c.ticks(timeout=-0.5)), ValueError, "seconds from 0"),
    (lambda c: asyncio.run(c.anext_tick(timeout=-1)), ValueError, "seconds from 0"),
    (lambda c: c.wait_login(timeout=float("-inf")), ValueError, "not -inf"),
    (lambda c: c.batch(-1), ValueError, "max_records must be at least 0"),
    (lambda c: c.batch(2**64), ValueError, "max_records must be at most"),
    (lambda c: c.batch(10, min_records=2**64), ValueError, "min_records must be at most"),
    (lambda c: c.batch_bytes(10, min_records=2.0), TypeError, "min_records must be an int"),
    (lambda c: c.join(timeout=[]), TypeError, "timeout"),
]


@pytest.mark.parametrize("call, error, words", CALL_CASES)
def test_bad_arguments(call, error, words):
    with pytest.raises(error) as e:
        call()
    assert words in str(e.value)


def test_bad_request_arguments_leave_nothing_behind(front):
    class Duck:  # any object with on_ methods will do as a handler
        def on_depth(self, tick):
            pass

    f = front("--instruments", "*")
    ascii_client = mdlink.Client(refused_address(), encoding="ascii", handler=Duck())
    with mdlink.Client(f.address, **CREDENTIALS) as client:
        client.wait_login(timeout=30)
        for call, error, words in REQUEST_CASES:
            target = ascii_client if words == "cannot be written" else client
            with pytest.raises(error) as e:
                call(target)
            assert words in str(e.value), call
        # Nothing of the refused calls was sent: the first answer is this one's.
        client.subscribe("au2612")
        answers = []
        for e in client.events(timeout=30):
            if e.instrument_id is not None:
                answers.append((e.kind, e.instrument_id))
                break
        assert answers == [("subscribed", "au2612")]
    ascii_client.close()
