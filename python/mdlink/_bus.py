"""Depth records read back from the NATS JetStream stream mdrelay publishes
into: the same readers as a Client's (ticks, batch, aticks, ...), with the
relay's receive time."""

import datetime
import numbers
import time

from . import _checks, _exit
from ._asyncwake import AsyncWake
from ._compiled import _core
from ._reader import DEFAULT_ENCODING, DEFAULT_QUEUE_SIZE, TickReader

#: The stream and subject prefix mdrelay uses unless told otherwise.
DEFAULT_STREAM = "MD"
DEFAULT_PREFIX = "md"

_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def _servers(value):
    if isinstance(value, str):
        value = value.split(",")
    servers = [s for s in _checks._strings("servers", value, "nats://127.0.0.1:4222") if s]
    if not servers:
        raise ValueError("servers: at least one NATS server is needed, such as "
                         "'nats://127.0.0.1:4222'")
    return servers


def _since_ns(since):
    """ns since the epoch of `since`: a datetime (naive: local time), a
    timedelta (that long ago), a text as mdrelay --since takes it, or an int
    of ns since the epoch."""
    now = time.time_ns()
    if isinstance(since, datetime.datetime):
        aware = since if since.tzinfo else since.astimezone()
        return (aware - _EPOCH) // datetime.timedelta(microseconds=1) * 1000
    if isinstance(since, datetime.timedelta):
        return now - since // datetime.timedelta(microseconds=1) * 1000
    if isinstance(since, str):
        ns = _core.parse_time(since, now)
        if ns is None:
            raise ValueError(f"since {since!r} is not a time: use 'YYYY-MM-DDTHH:MM:SS' "
                             "(local, or with Z for UTC) or a duration such as '10m'")
        return ns
    if isinstance(since, numbers.Integral) and not isinstance(since, bool):
        return int(since)
    raise TypeError(f"since must be a datetime, a timedelta, a str or ns since the epoch, "
                    f"not {type(since).__name__}")


def _start(since, last, from_start):
    chosen = [name for name, v in (("since", since), ("last", last)) if v is not None]
    if from_start:
        chosen.append("from_start")
    if len(chosen) > 1:
        raise ValueError(f"give one of since, last and from_start, not {' and '.join(chosen)}")
    if since is not None:
        return "time", _since_ns(since), 0
    if last is not None:
        return "last", 0, _checks.count("last", last)
    return ("all" if from_start else "new"), 0, 0


class BusReader(TickReader):
    """Depth records that mdrelay published, read back from its stream.

    ``servers``: NATS server URLs (a list, or one text separated by commas).
    ``instruments``: ids to read, on any exchange; None reads every depth
    record of the stream. Where to start: by default what comes from now on;
    ``since`` a datetime (naive: local time), a timedelta (that long ago) or
    a text as ``mdrelay --since`` takes it; ``last`` the last N records of
    each instrument; ``from_start`` the oldest stored. ``to_end``: the
    readers end once every record stored when the reader started has been
    read. ``durable``: a durable consumer name, which resumes where the last
    reader of that name stopped. Credentials: ``user`` and ``password``,
    ``token``, ``creds`` (a credentials file), ``tls_ca``, ``tls_cert``,
    ``tls_key``. ``queue_size`` and ``encoding`` as for :class:`Client`.

    Each record's ``receive_time`` is the relay's, from the message header.
    Raises ``mdlink.BusError`` (a ConnectionError) when no server can be
    reached, the login is refused or the stream is missing.
    """

    def __init__(self, servers, instruments=None, since=None, *, last=None, from_start=False,
                 to_end=False, durable=None, stream=DEFAULT_STREAM, prefix=DEFAULT_PREFIX,
                 user="", password="", token="", creds="", tls_ca="", tls_cert="", tls_key="",
                 name="", queue_size=DEFAULT_QUEUE_SIZE, encoding=DEFAULT_ENCODING):
        if not getattr(_core, "has_bus", False):
            raise RuntimeError("mdlink was built without NATS: BusReader needs the Debian "
                               "package libnats-dev when the package is built")
        servers = _servers(servers)
        encoding = _checks.encoding(encoding)
        ids = [] if instruments is None else _checks.instrument_ids(instruments, encoding)
        start, time_ns, count = _start(since, last, from_start)
        login = dict(name=name or "mdlink", user=user, password=password, token=token,
                     creds=creds, tls_ca=tls_ca, tls_cert=tls_cert, tls_key=tls_key,
                     tls=bool(tls_ca or tls_cert))
        for key, value in login.items():
            if key != "tls" and not isinstance(value, str):
                raise TypeError(f"{key} must be a str, not {type(value).__name__}")
        self._session = _core.BusSession(
            servers, stream, prefix, ids, start, time_ns, count, durable or "", bool(to_end),
            _checks.count("queue_size", queue_size, least=1), encoding, login)
        self._start_reading(self._session.depth, encoding)
        self.servers = tuple(servers)
        _exit.track(self)

    def close(self):
        """Stops reading. Safe from any thread and more than once; blocked
        readers and awaits return."""
        session = getattr(self, "_session", None)
        if session is not None:
            session.close()

    @property
    def skipped(self):
        """Messages of a format or kind this reader does not know."""
        return self._session.skipped

    def _forget_parent(self):
        # In a fork() child: the parent's connection, let go of here.
        self._session.forget_after_fork()
        self._wake = AsyncWake(self._queue)
