"""Market data from the mdlink client library, in Python.

Pull style (scripts, notebooks)::

    with mdlink.Client(["tcp://127.0.0.1:41213"], broker="9999", user="demo",
                       password="demo") as client:
        client.subscribe(["au2612", "IF2612"])
        for tick in client.ticks(timeout=30):
            print(tick.InstrumentID, tick.LastPrice)

asyncio::

    async with mdlink.Client(...) as client:
        client.subscribe("au2612")
        async for tick in client.aticks(timeout=30):
            ...

Push style (applications): pass ``handler=`` an object with any of the
methods of :class:`Handler`, or plain callables ``on_tick=`` and
``on_event=``; they run on the library's thread with the GIL held.

The client logs in on every connection and, after every reconnection,
subscribes again to everything subscribed so far. Link events go to the
``mdlink`` logger; the library's own log to ./KVMDLog under the working
directory.
"""

from ._compiled import _core
from ._bus import BusReader
from ._capture import (CaptureBlock, CaptureIndex, capture_files, capture_index, iter_capture,
                       read_capture, write_capture)
from ._client import DEFAULT_ENCODING, DEFAULT_EVENT_QUEUE_SIZE, MAX_LINKS, Client
from ._events import (HEARTBEAT_TIMEOUT, LINK_LOST, Event, EventKind, Handler, LoginError,
                      LoginTimeoutError, Reason, reason_text)
from ._frames import exchange_times, to_frame
from ._reader import DEFAULT_QUEUE_SIZE, depth_dtype

ClosedError = _core.ClosedError
#: Raised by BusReader when the bus cannot be read (a ConnectionError).
BusError = getattr(_core, "BusError", ConnectionError)
#: Raised when a capture file is damaged (a ValueError naming the file and offset).
CaptureError = getattr(_core, "CaptureError", ValueError)
Depth = _core.Depth
ForQuote = _core.ForQuote
LoginResponse = _core.LoginResponse
RspInfo = _core.RspInfo
api_version = _core.api_version
__version__ = _core.__version__
#: Upper bounds in µs of the buckets of a link's ``late`` counts; the last
#: bucket counts the rest.
LATE_BOUNDS_US = _core.LATE_BOUNDS_US

__all__ = [
    "Client", "BusReader", "BusError", "Handler", "Event", "Depth", "LoginResponse", "RspInfo",
    "ForQuote", "ClosedError", "LoginError", "LoginTimeoutError", "api_version", "depth_dtype",
    "reason_text", "to_frame", "exchange_times", "DEFAULT_QUEUE_SIZE",
    "DEFAULT_EVENT_QUEUE_SIZE", "DEFAULT_ENCODING", "LINK_LOST", "HEARTBEAT_TIMEOUT",
    "MAX_LINKS", "LATE_BOUNDS_US", "EventKind", "Reason", "read_capture", "iter_capture",
    "capture_index", "capture_files", "write_capture", "CaptureError",
    "CaptureIndex", "CaptureBlock",
]
