"""asyncio waits on one source of records: its descriptor, watched by the
running event loop (loop.add_reader), becomes readable when the library's
thread has news for an armed waiter. No thread per waiter, and one wake-up
per arming, not per record."""

import contextlib

#: Arming for events only: no number of queued records wakes.
EVENTS_ONLY = 1 << 62


def _settle(future, value):
    if not future.done():
        future.set_result(value)


class AsyncWake:
    """The asyncio side of one queue (a _core.DepthQueue, whose room the
    client's events share). Its awaits belong to one event loop at a time."""

    def __init__(self, queue):
        self._queue = queue
        self._loop = None
        self._futures = set()

    async def poll(self, take, least, timeout):
        """take() until it gives something other than None, the source is
        closed, or `timeout` seconds (None: no limit) have passed; between
        tries, waits until `least` records are queued or anything else
        changes. Returns take()'s last result."""
        result = take()
        if result is not None:
            return result
        import asyncio  # here, not at import: most programs never await (56 ms saved)
        loop = asyncio.get_running_loop()
        deadline = None if timeout is None else loop.time() + timeout
        while True:
            # Armed before looking: what comes after the look wakes the wait.
            self._queue.arm(least)
            result = take()
            if result is not None or self._queue.closed:
                return result
            if not await self._wait(loop, deadline):
                return take()

    async def _wait(self, loop, deadline):
        """True when woken, False at the deadline."""
        if self._loop is not loop:
            self._watch(loop)
        future = loop.create_future()
        self._futures.add(future)
        timer = None if deadline is None else loop.call_at(deadline, _settle, future, False)
        try:
            return await future
        finally:
            self._futures.discard(future)
            if timer is not None:
                timer.cancel()

    def _watch(self, loop):
        fd = self._queue.fileno()
        if fd < 0:
            raise OSError("mdlink: no file descriptor left for the asyncio wake-up")
        if self._loop is not None:
            with contextlib.suppress(Exception):  # a closed loop, or one gone
                self._loop.remove_reader(fd)
        loop.add_reader(fd, self._readable)
        self._loop = loop

    def _readable(self):
        self._queue.drain()
        for future in list(self._futures):
            _settle(future, True)
        if self._queue.closed:
            # Closing always signals: the loop lets go of the queue here.
            self._loop.remove_reader(self._queue.fileno())
            self._loop = None
