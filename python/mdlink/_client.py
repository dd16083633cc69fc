"""One market-data client: the face Python code sees."""

from . import _checks, _events, _exit, _metrics
from ._asyncwake import EVENTS_ONLY, AsyncWake
from ._compiled import _core
from ._events import Event, LoginError, LoginTimeoutError, reason_text
from ._reader import DEFAULT_ENCODING, DEFAULT_QUEUE_SIZE, TickReader

ClosedError = _core.ClosedError

#: Events that may wait between the library's thread and Python.
DEFAULT_EVENT_QUEUE_SIZE = 4096
#: The most links one client may hold.
MAX_LINKS = 8


def _label(fronts):
    more = f" (+{len(fronts) - 1} more)" if len(fronts) > 1 else ""
    return f"mdlink client of {fronts[0]}{more}"


class Client(TickReader):
    """One market-data client: a link to one of ``fronts`` at a time.

    ``fronts``: "tcp://host:port" addresses, tried in turn (failover).
    ``broker``, ``user``, ``password``: sent in the login on every connection.
    ``handler``: optional push-style handler (see :class:`Handler`); or,
    instead, plain callables: ``on_tick(tick)`` for every depth record and
    ``on_event(event)`` for every :class:`Event`, on the library's thread as
    a handler's methods run.
    ``queue_size``: depth records that may wait for a reader (default
    65536, about 27 MB at most); when full, the oldest is dropped and
    :attr:`dropped` counts it. Memory never grows past it.
    ``event_queue_size``: likewise for events (:attr:`events_dropped`).
    ``encoding``: codec of texts in records and of the ids sent (default
    GB18030; ASCII is unchanged; undecodable bytes are replaced,
    ``record.raw(name)`` gives the bytes).
    ``links``: 2 to 8 holds that many fronts at once, each on a link of its
    own, and delivers each depth record once, from whichever link brings it
    first: a front that dies costs no record while another link is up.
    Fronts are dealt to the links in turn. :meth:`link_counters` tells what
    each link did. 1 (the default): one link, failing over between fronts.
    ``capture``: a directory (made if missing) where every depth record the
    client delivers is written, once, with its ``receive_time``, in capture
    files (:func:`mdlink.read_capture` reads them). Written off the
    library's thread; a record that finds the writer's queue full is
    dropped from the capture (not from delivery) and counted:
    :meth:`capture_stats`, and a warning at the close. Closed, the last
    records written, with the client.

    Close it (``with``, ``async with``, :meth:`close`, or dropping the last
    reference); it is closed anyway when the main thread ends.
    """

    def __init__(self, fronts, broker="", user="", password="", *, handler=None,
                 queue_size=DEFAULT_QUEUE_SIZE, event_queue_size=DEFAULT_EVENT_QUEUE_SIZE,
                 encoding=DEFAULT_ENCODING, links=1, on_tick=None, on_event=None, capture=None):
        fronts = _checks.fronts(fronts)
        links = _checks.count("links", links, least=1, most=MAX_LINKS)
        encoding = _checks.encoding(encoding)
        login = [_checks.login_text(name, value, encoding)
                 for name, value in (("broker", broker), ("user", user), ("password", password))]
        queue_size = _checks.count("queue_size", queue_size, least=1)
        event_queue_size = _checks.count("event_queue_size", event_queue_size, least=1)
        on_tick = _checks.callback("on_tick", on_tick)
        on_event = _checks.callback("on_event", on_event)
        handler = _checks.handler(handler, on_tick, on_event)
        depth_callback, kinds = _events.handler_parts(handler, on_tick, on_event)
        capture = _checks.directory("capture", capture)
        if capture and not getattr(_core, "has_capture", False):
            raise RuntimeError("mdlink was built without capture files (libzstd-dev was missing)")
        dispatch = _events.dispatcher(handler, kinds, _label(fronts), on_event)
        self._session = _core.Session(
            fronts, *login, queue_size, event_queue_size, encoding, depth_callback, dispatch,
            kinds, sorted(set(kinds) | set(_events.LINK_KINDS)), links, capture or "",
            f"mdlink-py {_core.__version__}")
        self._start_reading(self._session.depth, encoding)
        self._fronts = tuple(fronts)
        _exit.track(self)

    fronts = property(lambda self: self._fronts, doc="The front addresses, in turn.")

    # ---- life ----

    def close(self):
        """Closes the link. Safe from any thread, from inside a callback and
        more than once. Outside a callback it returns once the client is
        released and no callback of it runs; blocked readers and awaits
        return."""
        session = getattr(self, "_session", None)
        if session is not None:
            session.close()
            self._report_capture_losses(session)

    def _report_capture_losses(self, session):
        # Records dropped from a capture are never silent: once, at the close.
        stats = session.capture_stats()
        if stats and (stats["dropped"] or stats["error"]) and not getattr(self, "_losses_told", 0):
            self._losses_told = 1
            _events._log.warning("%s: the capture dropped %d depth records%s",
                                 _label(getattr(self, "_fronts", ("?",))), stats["dropped"],
                                 f": {stats['error']}" if stats["error"] else "")

    def join(self, timeout=None):
        """Waits until the client is closed (by a callback or another
        thread); True if it is. Ctrl-C interrupts it."""
        return self._session.join(_checks.timeout(timeout))

    def link_counters(self):
        """One dict per link of a client made with ``links`` of 2 or more:
        ``fronts`` it holds, ``up`` (its connection), ``logged_in`` (usable:
        logged in and subscribed again), ``last_record_age`` (seconds since
        its last depth record, None before the first), ``connects``,
        ``reconnections``, ``losses``, ``logins_refused``, ``login_timeouts``,
        depth ``records`` it brought, those it delivered ``first``,
        ``copies`` it brought later (``late_copies``: of records 8 or more
        deliveries back) and ``older`` ones (both dropped), records ``held``
        while it caught up, for-quote
        ``notices_first`` and ``notice_copies``, and how late its copies
        came: ``late`` counts per bucket of ``mdlink.LATE_BOUNDS_US``
        (``late_timed`` copies timed, a sample), ``late_max_us``. An empty
        list for a single link or once closed."""
        return self._session.link_counters()

    def metrics(self):
        """The client's figures as one dict, as a monitoring system reads
        them: ``connected``, ``logged_in``, depth ``records`` received,
        ``consumed`` and ``dropped`` (the queue's), ``events_dropped``,
        ``callback_errors``, and ``links``: :meth:`link_counters` (with
        ``late_sum_us``, the timed copies' lateness summed), its buckets'
        bounds in ``late_bounds_us``. ``mdlink.prometheus.register(client)``
        publishes the same in ``prometheus_client``'s registry."""
        return _metrics.figures(self)

    def capture_stats(self):
        """None without ``capture``; else the capture's counters: depth
        ``records`` taken, ``dropped`` (a full queue or a failed write:
        ``error`` says why), ``blocks``, ``files`` and ``bytes`` written,
        and ``paths``, the files so far."""
        return self._session.capture_stats()

    def _forget_parent(self):
        # In a fork() child: the parent's client, closed here.
        self._session.forget_after_fork()
        self._wake = AsyncWake(self._queue)

    # ---- requests ----

    def subscribe(self, instrument_ids):
        """Subscribes depth data; kept and subscribed again after every
        reconnection. Ids are 1 to 30 bytes in the client's encoding."""
        self._request(instrument_ids, False, True)

    def unsubscribe(self, instrument_ids):
        self._request(instrument_ids, False, False)

    def subscribe_for_quotes(self, instrument_ids):
        """Subscribes for-quote notices; kept like :meth:`subscribe`."""
        self._request(instrument_ids, True, True)

    def unsubscribe_for_quotes(self, instrument_ids):
        self._request(instrument_ids, True, False)

    def _request(self, instrument_ids, for_quote, subscribe):
        ids = _checks.joined_instrument_ids(instrument_ids, self.encoding)
        self._session.request(ids, for_quote, subscribe)

    # ---- the login ----

    def wait_login(self, timeout=None):
        """Waits until logged in and returns the LoginResponse. Raises
        LoginError when the front refuses, LoginTimeoutError (a TimeoutError
        that says why) after ``timeout`` seconds, ClosedError once closed."""
        timeout = _checks.timeout(timeout)
        return self._login_answer(self._session.wait_login(timeout), timeout)

    async def await_login(self, timeout=None):
        """Awaits the login as :meth:`wait_login` waits for it."""
        timeout = _checks.timeout(timeout)
        answer = await self._wake.poll(lambda: self._session.wait_login(0), EVENTS_ONLY,
                                       timeout)
        return self._login_answer(answer, timeout)

    def _login_answer(self, answer, timeout):
        if answer is None:
            if self.closed:
                raise ClosedError("the client is closed")
            raise self._login_timeout(timeout)
        ok, login, info = answer
        if not ok:
            raise LoginError(info)
        return login

    def _login_timeout(self, timeout):
        reason = self._session.last_reason
        state = "connected, the front has not answered" if self.connected else "not connected"
        if reason is not None:
            state += (f"; last disconnection: {reason_text(reason)}, "
                      f"the library connects again every {_events.RETRY_SECONDS} s")
        return LoginTimeoutError(f"no login answer within {timeout:g} s: {state}", reason)

    # ---- events ----

    def next_event(self, timeout=None):
        """The next queued :class:`Event`, or None after ``timeout`` seconds
        or once closed and drained."""
        t = self._session.next_event(_checks.timeout(timeout))
        return None if t is None else Event(*t)

    def events(self, timeout=None):
        """Iterates over events; ends like :meth:`ticks`."""
        while True:
            event = self.next_event(timeout)
            if event is None:
                return
            yield event

    async def anext_event(self, timeout=None):
        """Awaits the next event as :meth:`next_event` waits for it."""
        t = await self._wake.poll(lambda: self._session.next_event(0), EVENTS_ONLY,
                                  _checks.timeout(timeout))
        return None if t is None else Event(*t)

    async def aevents(self, timeout=None):
        """``async for event in client.aevents()``: ends like :meth:`events`."""
        while True:
            event = await self.anext_event(timeout)
            if event is None:
                return
            yield event

    # ---- state and counters ----

    connected = property(lambda self: self._session.connected,
                         doc="A link to a front is up (False once closed).")
    logged_in = property(lambda self: self._session.logged_in,
                         doc="The front accepted the login on the current link.")
    events_dropped = property(lambda self: self._session.events_dropped,
                              doc="Events dropped because the event queue was full.")
    callback_errors = property(lambda self: self._session.callback_errors,
                               doc="Exceptions raised by the handler's methods.")
    last_disconnect_reason = property(
        lambda self: self._session.last_reason,
        doc="The reason of the last disconnection (see reason_text), None before any.")
