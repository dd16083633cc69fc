"""What happens on a link: events, the handler that may take them, and the
log lines the ``mdlink`` logger gets for the link's life."""

import enum
import logging
import os


class Reason(enum.IntEnum):
    """Reasons given with a disconnection, besides the platform's error
    number of a failed connection attempt; equal to their numbers."""
    LINK_LOST = 0x2001
    HEARTBEAT_TIMEOUT = 0x2002
    #: link_down events of a client with ``links``: the link's front refused
    #: a login; the link connects again later.
    LOGIN_REFUSED = -1


class EventKind(str, enum.Enum):
    """What an :class:`Event` is; each equal to its name as a str."""
    CONNECTED = "connected"
    DISCONNECTED = "disconnected"
    LOGIN = "login"
    SUBSCRIBED = "subscribed"
    UNSUBSCRIBED = "unsubscribed"
    FOR_QUOTE_SUBSCRIBED = "for_quote_subscribed"
    FOR_QUOTE_UNSUBSCRIBED = "for_quote_unsubscribed"
    FOR_QUOTE = "for_quote"
    LINK_UP = "link_up"
    LINK_DOWN = "link_down"

    def __str__(self):
        return self.value

    def __repr__(self):  # printed as the str it was, in lists and events alike
        return repr(self.value)

    def __format__(self, spec):
        return format(self.value, spec)


LINK_LOST = Reason.LINK_LOST
HEARTBEAT_TIMEOUT = Reason.HEARTBEAT_TIMEOUT
#: Seconds after which the library connects again.
RETRY_SECONDS = 3

#: Kinds that are always passed to Python, for the log.
LINK_KINDS = ("connected", "disconnected", "login", "link_up", "link_down")
#: Answers to (un)subscriptions: passed to Python for the log only when refused.
ANSWER_KINDS = ("subscribed", "unsubscribed", "for_quote_subscribed", "for_quote_unsubscribed")

_EVENT_METHODS = {
    "connected": "on_connected",
    "disconnected": "on_disconnected",
    "login": "on_login",
    "subscribed": "on_subscribed",
    "unsubscribed": "on_subscribed",
    "for_quote_subscribed": "on_subscribed",
    "for_quote_unsubscribed": "on_subscribed",
    "for_quote": "on_for_quote",
    "link_up": "on_link_up",
    "link_down": "on_link_down",
}

_log = logging.getLogger("mdlink")


class LoginError(Exception):
    """The front refused the login; ``info`` is its RspInfo (or None)."""

    def __init__(self, info):
        self.info = info
        text = f"error {info.ErrorID}: {info.ErrorMsg}" if info is not None else "refused"
        super().__init__(f"login refused: {text}")


class LoginTimeoutError(TimeoutError):
    """No login answer in time. ``reason`` is the reason of the last
    disconnection (see :func:`reason_text`), None when there was none."""

    def __init__(self, message, reason=None):
        super().__init__(message)
        self.reason = reason


def reason_text(reason):
    """What a disconnection reason means."""
    if isinstance(reason, bool) or not isinstance(reason, int):
        raise TypeError(f"reason must be an int, not {type(reason).__name__}")
    if reason == LINK_LOST:
        return "connection lost"
    if reason == HEARTBEAT_TIMEOUT:
        return "heartbeat timeout: the library moves to the next front"
    if reason == Reason.LOGIN_REFUSED:
        return "login refused: the link connects again later"

    return f"connection failed: {os.strerror(reason)} ({reason})"


class Event:
    """Something that happened on the link.

    ``kind`` is one of ``connected``, ``disconnected`` (``reason``), ``login``
    (``login``, ``error``), ``subscribed``, ``unsubscribed``,
    ``for_quote_subscribed``, ``for_quote_unsubscribed`` (``instrument_id``,
    ``error``), ``for_quote`` (``notice``), and for a client with ``links``
    of 2 or more ``link_down`` (``link``, ``fronts``, ``reason``: the
    connection's, or ``Reason.LOGIN_REFUSED``) and
    ``link_up`` (``link``, ``fronts``): one link lost or back while the
    others carry on. ``error`` is the front's RspInfo when it sent one
    (ErrorID 0 is success).
    """

    __slots__ = ("kind", "reason", "login", "error", "instrument_id", "request_id",
                 "is_last", "notice", "link", "fronts")

    def __init__(self, kind, reason=0, login=None, error=None, instrument_id=None,
                 request_id=0, is_last=False, notice=None, link=None, fronts=None):
        self.kind = EventKind(kind)
        self.reason = Reason(reason) if reason in _REASONS else reason
        self.login = login
        self.error = error
        self.instrument_id = instrument_id
        self.request_id = request_id
        self.is_last = is_last
        self.notice = notice
        self.link = link
        self.fronts = fronts

    @property
    def ok(self):
        """False when the front answered with a non-zero ErrorID."""
        return self.error is None or self.error.ErrorID == 0

    def __repr__(self):
        parts = [f"kind={self.kind.value!r}"]
        for name in self.__slots__[1:]:
            value = getattr(self, name)
            if value not in (None, 0, False):
                parts.append(f"{name}={value!r}")
        return f"Event({', '.join(parts)})"


class Handler:
    """Base class of push-style handlers. Override what you need.

    Every method runs on the library's thread with the GIL held, one at a
    time. An exception raised in one is logged on the ``mdlink`` logger with
    its traceback and counted in :attr:`Client.callback_errors`; the link
    goes on. Kinds whose method is not overridden are queued for the pull
    readers instead. A method must not wait for the library (``next_tick``
    and the other reads raise RuntimeError there unless ``timeout=0``).
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

    def on_link_down(self, link, fronts, reason):
        """With ``links``: link number ``link`` (holding ``fronts``) is no
        longer usable (``reason`` as in :class:`Event`); others carry on."""

    def on_link_up(self, link, fronts):
        """With ``links``: link number ``link`` is usable again."""

    def on_depth(self, tick):
        """A depth record (Depth)."""


def _overridden(handler, name):
    method = getattr(handler, name, None)
    if method is None:
        return False
    return getattr(method, "__func__", None) is not getattr(Handler, name)


_REASONS = frozenset(Reason)


def handler_parts(handler, on_tick=None, on_event=None):
    """(the depth callback or None, the event kinds the handler takes); or
    for plain callables, ``on_tick`` and every kind when ``on_event``."""
    if handler is None:
        return on_tick, list(_EVENT_METHODS) if on_event is not None else []
    depth = handler.on_depth if _overridden(handler, "on_depth") else None
    kinds = [kind for kind, method in _EVENT_METHODS.items() if _overridden(handler, method)]
    return depth, kinds


def log_link(label, t):
    """The log line of a link event (an event tuple of a kind in LINK_KINDS)."""
    kind = t[0]
    if kind == "link_down":
        _log.warning("%s: link %d [%s] lost: %s", label, t[8], t[9], reason_text(t[1]))
    elif kind == "link_up":
        _log.warning("%s: link %d [%s] usable again", label, t[8], t[9])
    elif kind == "connected":
        _log.info("%s: connected, logging in", label)
    elif kind == "disconnected":
        _log.warning("%s: disconnected: %s; the library connects again in %d s", label,
                     reason_text(t[1]), RETRY_SECONDS)
    elif t[3] is not None and t[3].ErrorID != 0:
        _log.warning("%s: login refused: error %d: %s", label, t[3].ErrorID, t[3].ErrorMsg)
    else:
        _log.info("%s: logged in, trading day %s", label, t[2].TradingDay if t[2] else "?")


def dispatcher(handler, kinds, label, on_event=None):
    """The callable the library's thread gives event tuples to: logs link
    events, then calls the handler's method for the kinds it takes (or
    on_event with an Event). It refers to the handler only, not to the
    client: no reference cycle through the compiled session unless the
    handler makes one."""
    kinds = frozenset(kinds)

    def dispatch(t):
        kind = t[0]
        if kind in LINK_KINDS:
            log_link(label, t)
        elif kind in ANSWER_KINDS and t[3] is not None and t[3].ErrorID != 0:
            _log.warning("%s: %s %s refused: error %d: %s", label, kind, t[4], t[3].ErrorID,
                         t[3].ErrorMsg)
        if kind not in kinds:
            return
        if on_event is not None:
            on_event(Event(*t))
        elif kind == "connected":
            handler.on_connected()
        elif kind == "disconnected":
            handler.on_disconnected(t[1])
        elif kind == "login":
            handler.on_login(t[2], t[3])
        elif kind == "for_quote":
            handler.on_for_quote(t[7])
        elif kind == "link_down":
            handler.on_link_down(t[8], t[9], t[1])
        elif kind == "link_up":
            handler.on_link_up(t[8], t[9])
        else:
            handler.on_subscribed(Event(*t))
    return dispatch
