"""Reading depth records off a queue filled by the library's thread: one at
a time, in numpy batches, or awaited in asyncio. Any object with a ``_queue``
(a _core.DepthQueue) and a ``_wake`` (its AsyncWake) reads this way; its
owner has a ``_session`` and a ``close()``, which ``with``, ``async with``
and collection call."""

from . import _checks
from ._asyncwake import AsyncWake
from ._compiled import _core

#: Depth records that may wait between the library's thread and Python.
DEFAULT_QUEUE_SIZE = 65536
#: Codec of the texts in records (ASCII reads the same).
DEFAULT_ENCODING = _core.DEFAULT_ENCODING
#: Bytes of one record as published, and of its receive time after it.
RECORD_SIZE = 408
TIME_SIZE = 8

_dtypes = {}


def depth_dtype(with_time=False):
    """The numpy dtype of batch rows: the depth record's members at their
    offsets (texts as fixed-width bytes), 408 bytes a row; with
    ``with_time``, then ``receive_time`` (datetime64[ns]), 416 bytes."""
    return _dtype(bool(with_time), None)


def _dtype(with_time, encoding):
    """depth_dtype(with_time), carrying the codec of its texts (for
    to_frame) in its metadata when `encoding` is given: equal to the plain
    one, and kept by slices and copies."""
    key = (with_time, encoding)
    if key not in _dtypes:
        import numpy as np
        if encoding is not None:
            _dtypes[key] = np.dtype(_dtype(with_time, None), metadata={"encoding": encoding})
            return _dtypes[key]
        fmt = {"text": lambda size: f"S{size}", "double": lambda size: "<f8",
               "int": lambda size: "<i4"}
        names, formats, offsets = [], [], []
        for name, kind, offset, size in _core.members("Depth"):
            names.append(name)
            formats.append(fmt[kind](size))
            offsets.append(offset)
        if with_time:
            names.append("receive_time")
            formats.append("<M8[ns]")
            offsets.append(RECORD_SIZE)
        _dtypes[key] = np.dtype({
            "names": names, "formats": formats, "offsets": offsets,
            "itemsize": RECORD_SIZE + (TIME_SIZE if with_time else 0)})
    return _dtypes[key]


class TickReader:
    """Depth records as they come, pulled or awaited."""

    def _start_reading(self, queue, encoding):
        self._queue = queue
        self._wake = AsyncWake(queue)
        self._encoding = encoding

    encoding = property(lambda self: self._encoding,
                        doc="Codec of the texts in records and of the ids sent.")

    # ---- pulled ----

    def next_tick(self, timeout=None):
        """The next depth record, or None after ``timeout`` seconds (None or
        math.inf: no limit) or at the end (:attr:`at_end` tells which)."""
        return self._queue.next_depth(_checks.timeout(timeout))

    def ticks(self, timeout=None):
        """Iterates over depth records as they come. Ends when none came for
        ``timeout`` seconds (None or math.inf: never) or at the end, once
        closed and drained (:attr:`at_end` tells which)."""
        timeout = _checks.timeout(timeout)
        next_depth = self._queue.next_depth
        while True:
            tick = next_depth(timeout)
            if tick is None:
                return
            yield tick

    def batch(self, max_records=DEFAULT_QUEUE_SIZE, timeout=None, min_records=1, *,
              with_time=False):
        """Up to ``max_records`` queued depth records as one numpy structured
        array (dtype :func:`depth_dtype`, oldest first).

        Waits up to ``timeout`` seconds (None or math.inf: no limit) until ``min_records``
        are queued, then takes what is there; after the timeout, whatever is
        queued (possibly nothing). A larger ``min_records`` makes fewer,
        bigger batches. No Python object per record:
        ``mdlink.to_frame(client.batch())`` is one step. ``with_time`` adds
        each record's ``receive_time``."""
        return self._as_array(
            self.batch_bytes(max_records, timeout, min_records, with_time=with_time), with_time)

    def batch_bytes(self, max_records=DEFAULT_QUEUE_SIZE, timeout=None, min_records=1, *,
                    with_time=False):
        """Like :meth:`batch` without numpy: a bytearray of whole 408-byte
        records (each followed by its 8-byte receive time with ``with_time``)."""
        max_records = _checks.count("max_records", max_records)
        min_records = _checks.count("min_records", min_records)
        return self._queue.take_batch(max_records, _checks.timeout(timeout), min_records,
                                      bool(with_time))

    # ---- awaited (asyncio) ----

    async def anext_tick(self, timeout=None):
        """Awaits the next depth record; None after ``timeout`` seconds
        (None or math.inf: no limit) or at the end (:attr:`at_end`)."""
        return await self._wake.poll(lambda: self._queue.next_depth(0), 1,
                                     _checks.timeout(timeout))

    async def aticks(self, timeout=None):
        """``async for tick in client.aticks()``: ends like :meth:`ticks`."""
        timeout = _checks.timeout(timeout)
        next_depth = self._queue.next_depth
        while True:
            tick = next_depth(0)
            if tick is None:
                tick = await self._wake.poll(lambda: next_depth(0), 1, timeout)
                if tick is None:
                    return
            yield tick

    async def abatch(self, max_records=DEFAULT_QUEUE_SIZE, timeout=None, min_records=1, *,
                     with_time=False):
        """Awaits a batch as :meth:`batch` waits for one."""
        max_records = _checks.count("max_records", max_records)
        min_records = _checks.count("min_records", min_records)
        least = max(1, min(min_records, max_records, self._queue.queue_size))
        queue = self._queue
        if max_records > 0:
            await self._wake.poll(lambda: True if queue.queued >= least else None, least,
                                  _checks.timeout(timeout))
        return self._as_array(queue.take_batch(max_records, 0, 1, bool(with_time)), with_time)

    def _as_array(self, data, with_time):
        import numpy as np
        return np.frombuffer(data, dtype=_dtype(bool(with_time), self._encoding))

    # ---- life: the owner's session and close() ----

    @property
    def closed(self):
        """Closed by close() (or at the end of the process, or in a fork()
        child)."""
        return self._session.closed

    @property
    def at_end(self):
        """No record will come any more: closed, or (a BusReader with
        ``to_end``) at the end of what was stored, and every queued record
        read. When a read gives None or an iterator ends, this tells the end
        (True) from a timeout (False)."""
        queue = self._queue
        return queue.closed and queue.queued == 0

    def __enter__(self):
        if self.closed:
            raise _core.ClosedError("the client is closed: make a new one to use with `with`")
        return self

    def __exit__(self, *exc):
        self.close()

    async def __aenter__(self):
        return self.__enter__()

    async def __aexit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()

    def counters(self):
        """``received``, ``consumed``, ``dropped`` and ``queued`` (see each),
        read at one moment: received == consumed + dropped + queued."""
        return dict(zip(("received", "consumed", "dropped", "queued"), self._queue.counters()))

    received = property(lambda self: self._queue.received,
                        doc="Depth records received since the start.")
    consumed = property(lambda self: self._queue.consumed,
                        doc="Depth records handed to a reader or to the handler.")
    dropped = property(lambda self: self._queue.dropped,
                       doc="Depth records dropped because the queue was full: the oldest "
                           "queued one goes for each new one.")
    queued = property(lambda self: self._queue.queued,
                      doc="Depth records waiting for a reader (at most queue_size).")
    queue_size = property(lambda self: self._queue.queue_size)
    waiting = property(lambda self: self._queue.waiting,
                       doc="Threads blocked in a wait on this client.")
