"""Market data from the mdlink client library, in Python.

Pull style (scripts, notebooks)::

    with mdlink.Client(["tcp://127.0.0.1:41213"], broker="9999", user="demo",
                       password="demo") as client:
        client.subscribe(["au2612", "IF2612"])
        for tick in client.ticks(timeout=30):
            print(tick.InstrumentID, tick.LastPrice)

Push style (applications): pass ``handler=`` an object with any of the
methods of :class:`Handler`; they run on the library's thread with the GIL
held.

The client logs in on every connection and, after every reconnection,
subscribes again to everything subscribed so far.
"""

import atexit
import codecs
import weakref

from ._core import ClosedError, Depth, ForQuote, LoginResponse, RspInfo
from ._core import Session as _Session
from ._core import api_version
from ._core import members as _members

__all__ = [
    "Client", "Handler", "Event", "Depth", "LoginResponse", "RspInfo", "ForQuote",
    "ClosedError", "LoginError", "api_version", "depth_dtype", "reason_text",
    "DEFAULT_QUEUE_SIZE", "DEFAULT_EVENT_QUEUE_SIZE", "DEFAULT_ENCODING",
]

#: Depth records that may wait between the library's thread and Python.
DEFAULT_QUEUE_SIZE = 65536
#: Events that may wait likewise.
DEFAULT_EVENT_QUEUE_SIZE = 4096
#: Codec of the texts in records (ASCII reads the same).
DEFAULT_ENCODING = "gb18030"

#: Reasons given with a disconnection, besides the platform's error number of
#: a failed connection attempt.
LINK_LOST = 0x2001
HEARTBEAT_TIMEOUT = 0x2002

_EVENT_METHODS = {
    "connected": "on_connected",
    "disconnected": "on_disconnected",
    "login": "on_login",
    "subscribed": "on_subscribed",
    "unsubscribed": "on_subscribed",
    "for_quote_subscribed": "on_subscribed",
    "for_quote_unsubscribed": "on_subscribed",
    "for_quote": "on_for_quote",
}


class LoginError(Exception):
    """The front refused the login; ``info`` is its RspInfo (or None)."""

    def __init__(self, info):
        self.info = info
        text = f"error {info.ErrorID}: {info.ErrorMsg}" if info is not None else "refused"
        super().__init__(f"login refused: {text}")


def reason_text(reason):
    """What a disconnection reason means."""
    if reason == LINK_LOST:
        return "connection lost"
    if reason == HEARTBEAT_TIMEOUT:
        return "heartbeat timeout: the library moves to the next front"
    import os
    return f"connection failed: {os.strerror(reason)} ({reason})"


class Event:
    """Something that happened on the link.

    ``kind`` is one of ``connected``, ``disconnected`` (``reason``), ``login``
    (``login``, ``error``), ``subscribed``, ``unsubscribed``,
    ``for_quote_subscribed``, ``for_quote_unsubscribed`` (``instrument_id``,
    ``error``) and ``for_quote`` (``notice``). ``error`` is the front's
    RspInfo when it sent one (ErrorID 0 is success).
    """

    __slots__ = ("kind", "reason", "login", "error", "instrument_id", "request_id",
                 "is_last", "notice")

    def __init__(self, kind, reason=0, login=None, error=None, instrument_id=None,
                 request_id=0, is_last=False, notice=None):
        self.kind = kind
        self.reason = reason
        self.login = login
        self.error = error
        self.instrument_id = instrument_id
        self.request_id = request_id
        self.is_last = is_last
        self.notice = notice

    @property
    def ok(self):
        """False when the front answered with a non-zero ErrorID."""
        return self.error is None or self.error.ErrorID == 0

    def __repr__(self):
        parts = [f"kind={self.kind!r}"]
        for name in self.__slots__[1:]:
            value = getattr(self, name)
            if value not in (None, 0, False):
                parts.append(f"{name}={value!r}")
        return f"Event({', '.join(parts)})"


class Handler:
    """Base class of push-style handlers. Override what you need.

    Every method runs on the library's thread with the GIL held, one at a
    time. An exception raised in one is logged on the ``mdlink`` logger and
    counted in :attr:`Client.callback_errors`; the link goes on. Kinds whose
    method is not overridden are queued for the pull readers instead.
    """

    def on_connected(self):
        """A connection to a front is up; the client is logging in."""

    def on_disconnected(self, reason):
        """The link is down (see :func:`reason_text`); the library reconnects."""

    def on_login(self, login, error):
        """The login answer: ``login`` a LoginResponse, ``error`` an RspInfo or None."""

    def on_subscribed(self, event):
        """A (un)subscription answer: an :class:`Event` of one of the four kinds."""

    def on_for_quote(self, notice):
        """A for-quote notice (ForQuote)."""

    def on_depth(self, tick):
        """A depth record (Depth)."""


def _overridden(handler, name):
    method = getattr(handler, name, None)
    if method is None:
        return False
    base = getattr(Handler, name)
    return getattr(method, "__func__", None) is not base


def _event_dispatcher(handler):
    # Refers to the handler only (not the client): no reference cycle
    # through the compiled session unless the handler makes one.
    def dispatch(t):
        kind = t[0]
        if kind == "connected":
            handler.on_connected()
        elif kind == "disconnected":
            handler.on_disconnected(t[1])
        elif kind == "login":
            handler.on_login(t[2], t[3])
        elif kind == "for_quote":
            handler.on_for_quote(t[7])
        else:
            handler.on_subscribed(Event(*t))
    return dispatch


_live = weakref.WeakSet()


@atexit.register
def _close_all():
    # Before the interpreter goes away, so that no callback wants it.
    for client in list(_live):
        client.close()


_dtype = None


def depth_dtype():
    """The numpy dtype of :meth:`Client.batch` rows: the depth record's
    members at their offsets (texts as fixed-width bytes), 408 bytes a row."""
    global _dtype
    if _dtype is None:
        import numpy as np
        fmt = {"text": lambda size: f"S{size}", "double": lambda size: "<f8",
               "int": lambda size: "<i4"}
        names, formats, offsets = [], [], []
        for name, kind, offset, size in _members("Depth"):
            names.append(name)
            formats.append(fmt[kind](size))
            offsets.append(offset)
        _dtype = np.dtype({"names": names, "formats": formats, "offsets": offsets,
                           "itemsize": len(Depth.from_bytes(b"").to_bytes())})
    return _dtype


class Client:
    """One market-data client: a link to one of ``fronts`` at a time.

    ``fronts``: "tcp://host:port" addresses, tried in turn (failover).
    ``broker``, ``user``, ``password``: sent in the login on every connection.
    ``handler``: optional push-style handler (see :class:`Handler`).
    ``queue_size``: depth records that may wait for a reader (default
    65536, about 27 MB at most); when full, the oldest is dropped and
    :attr:`dropped` counts it. Memory never grows past it.
    ``event_queue_size``: likewise for events (:attr:`events_dropped`).
    ``encoding``: codec of texts in records (default GB18030; ASCII is
    unchanged; undecodable bytes are replaced, ``record.raw(name)`` gives
    the bytes).

    Close it (``with``, :meth:`close`, or dropping the last reference).
    """

    def __init__(self, fronts, broker="", user="", password="", *, handler=None,
                 queue_size=DEFAULT_QUEUE_SIZE, event_queue_size=DEFAULT_EVENT_QUEUE_SIZE,
                 encoding=DEFAULT_ENCODING):
        if isinstance(fronts, str):
            fronts = [fronts]
        if queue_size < 1 or event_queue_size < 1:
            raise ValueError("queue sizes must be at least 1")
        encoding = codecs.lookup(encoding).name
        depth_callback = None
        event_callback = None
        push_kinds = []
        if handler is not None:
            if _overridden(handler, "on_depth"):
                depth_callback = handler.on_depth
            push_kinds = [kind for kind, method in _EVENT_METHODS.items()
                          if _overridden(handler, method)]
            if push_kinds:
                event_callback = _event_dispatcher(handler)
        self._session = _Session(list(fronts), broker, user, password, queue_size,
                                 event_queue_size, encoding, depth_callback, event_callback,
                                 push_kinds)
        self.encoding = encoding
        _live.add(self)

    # ---- life ----

    def close(self):
        """Closes the link. Safe from any thread, from inside a callback and
        more than once. From another thread it returns once no callback of
        this client runs or can start; blocked readers return."""
        session = getattr(self, "_session", None)
        if session is not None:
            session.close()

    @property
    def closed(self):
        return self._session.closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()

    def join(self, timeout=None):
        """Waits until the client is closed (by a callback or another
        thread); True if it is. Ctrl-C interrupts it."""
        return self._session.join(timeout)

    # ---- requests ----

    def subscribe(self, instrument_ids):
        """Subscribes depth data; kept and subscribed again after every reconnection."""
        self._session.request(_ids(instrument_ids), False, True)

    def unsubscribe(self, instrument_ids):
        self._session.request(_ids(instrument_ids), False, False)

    def subscribe_for_quotes(self, instrument_ids):
        """Subscribes for-quote notices; kept like :meth:`subscribe`."""
        self._session.request(_ids(instrument_ids), True, True)

    def unsubscribe_for_quotes(self, instrument_ids):
        self._session.request(_ids(instrument_ids), True, False)

    def wait_login(self, timeout=None):
        """Waits until logged in and returns the LoginResponse. Raises
        LoginError when the front refuses, TimeoutError after ``timeout``
        seconds, ClosedError once closed."""
        result = self._session.wait_login(timeout)
        if result is None:
            if self.closed:
                raise ClosedError("the client is closed")
            raise TimeoutError("no login answer in time")
        ok, login, info = result
        if not ok:
            raise LoginError(info)
        return login

    # ---- depth data, pulled ----

    def next_tick(self, timeout=None):
        """The next depth record, or None after ``timeout`` seconds (None:
        no limit) or once closed and drained."""
        return self._session.next_depth(timeout)

    def ticks(self, timeout=None):
        """Iterates over depth records as they come. Ends when none came for
        ``timeout`` seconds (None: never) or the client is closed and its
        queue drained."""
        next_depth = self._session.next_depth
        while True:
            tick = next_depth(timeout)
            if tick is None:
                return
            yield tick

    def batch(self, max_records=DEFAULT_QUEUE_SIZE, timeout=None, min_records=1):
        """Up to ``max_records`` queued depth records as one numpy structured
        array (dtype :func:`depth_dtype`, oldest first).

        Waits up to ``timeout`` seconds (None: no limit) until ``min_records``
        are queued, then takes what is there; after the timeout, whatever is
        queued (possibly nothing). A larger ``min_records`` makes fewer,
        bigger batches. No Python object per record:
        ``pandas.DataFrame(client.batch())`` is one step."""
        import numpy as np
        return np.frombuffer(self.batch_bytes(max_records, timeout, min_records),
                             dtype=depth_dtype())

    def batch_bytes(self, max_records=DEFAULT_QUEUE_SIZE, timeout=None, min_records=1):
        """Like :meth:`batch` without numpy: a bytearray of whole 408-byte records."""
        return self._session.take_batch(max_records, timeout, min_records)

    # ---- events, pulled ----

    def next_event(self, timeout=None):
        """The next queued :class:`Event`, or None after ``timeout`` seconds
        or once closed."""
        t = self._session.next_event(timeout)
        return None if t is None else Event(*t)

    def events(self, timeout=None):
        """Iterates over events; ends like :meth:`ticks`."""
        while True:
            event = self.next_event(timeout)
            if event is None:
                return
            yield event

    # ---- state and counters ----

    connected = property(lambda self: self._session.connected,
                         doc="A link to a front is up.")
    logged_in = property(lambda self: self._session.logged_in,
                         doc="The front accepted the login on the current link.")
    received = property(lambda self: self._session.received,
                        doc="Depth records received since the start.")
    dropped = property(lambda self: self._session.dropped,
                       doc="Depth records dropped because the queue was full (oldest first).")
    events_dropped = property(lambda self: self._session.events_dropped,
                              doc="Events dropped because the event queue was full.")
    callback_errors = property(lambda self: self._session.callback_errors,
                               doc="Exceptions raised by the handler's methods.")
    queued = property(lambda self: self._session.queued,
                      doc="Depth records waiting for a reader.")
    queue_size = property(lambda self: self._session.queue_size)
    waiting = property(lambda self: self._session.waiting,
                       doc="Threads blocked in a wait on this client.")


def _ids(instrument_ids):
    if isinstance(instrument_ids, str):
        return [instrument_ids]
    return list(instrument_ids)
