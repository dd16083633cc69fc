"""The ends of a process with clients in use: the interpreter's exit, with
readers and handlers still busy, and fork(). Each case runs in a fresh
interpreter; a fault shows as a crash (signal 6), a hang or lost output."""

import pytest

from conftest import run_python

EXIT_CASES = {
    # CPython ends a daemon thread that takes the GIL back while it
    # finalizes: the unwind must pass through the wait. A global whose
    # finalizer takes a while, as a large program's teardown does, gives
    # every reader the time to ask.
    "daemon readers at exit": ("""
        class SlowToFinalize:
            def __del__(self):
                time.sleep(0.3)
        keep = SlowToFinalize()
        c = mdlink.Client(ADDRESS, "9999", "demo", "demo")
        c.subscribe("au2612")
        def read():
            while True:
                c.next_tick(timeout=0.5)
        for _ in range(4):
            threading.Thread(target=read, daemon=True).start()
        assert c.next_tick(timeout=60) is not None
        sys.exit(0)
        """, ""),
    # The exit hook's close comes second and must wait for the handler too.
    "a handler still busy at exit": ("""
        entered = threading.Event()
        class Slow(mdlink.Handler):
            def on_depth(self, tick):
                entered.set()
                time.sleep(0.3)
                print("handler returned", flush=True)
        c = mdlink.Client(ADDRESS, "9999", "demo", "demo", handler=Slow())
        c.subscribe("au2612")
        assert entered.wait(60)
        threading.Thread(target=c.close, daemon=True).start()
        while not c.closed:  # that close has begun
            time.sleep(0.001)
        sys.exit(0)
        """, "handler returned"),
    # A thread ended inside a callback (as CPython ends the library's thread
    # when it takes the GIL back while finalizing): the unwind passes the
    # binding's frames, and a later close does its work without that thread.
    "a handler that ends the library's thread": ("""
        import ctypes
        ending = threading.Event()
        class Ending(mdlink.Handler):
            def on_depth(self, tick):
                ending.set()
                ctypes.CDLL(None).pthread_exit(None)
        c = mdlink.Client(ADDRESS, "9999", "demo", "demo", handler=Ending())
        c.subscribe("au2612")
        assert ending.wait(60)
        c.close()
        print("closed", c.callback_errors, flush=True)
        """, "closed 0"),
    # Python joins such a thread before atexit: the reader must end first.
    "a reader that is no daemon": ("""
        c = mdlink.Client(ADDRESS, "9999", "demo", "demo")
        c.subscribe("au2612")
        def read():
            for tick in c.ticks():
                pass
            print("reader ended", flush=True)
        threading.Thread(target=read).start()
        assert c.next_tick(timeout=60) is not None
        """, "reader ended"),
    # The child's exit hook closes the inherited client; the parent's link
    # goes on undisturbed.
    "a fork() child that exits": ("""
        c = mdlink.Client(ADDRESS, "9999", "demo", "demo")
        c.subscribe("au2612")
        assert c.next_tick(timeout=60) is not None
        pid = os.fork()
        if pid == 0:
            # The inherited client is closed here, with nothing of the parent's.
            assert c.closed and not c.connected and c.next_tick() is None
            assert c.queued == 0 and c.next_event() is None
            try:
                c.subscribe("IF2612")
                sys.exit(3)
            except mdlink.ClosedError:
                sys.exit(0)
        assert os.waitpid(pid, 0)[1] == 0
        received, deadline = c.received, time.monotonic() + 60
        while c.received < received + 10 and time.monotonic() < deadline:
            c.next_tick(timeout=1)
        assert c.received >= received + 10 and c.connected
        print([e.kind for e in c.events(timeout=0)], flush=True)
        """, "['connected', 'login', 'subscribed']"),
    # A capture's writer thread is the parent's: the child leaves it alone
    # (closing it there would wait for a thread the child does not have).
    "a fork() child of a capturing client": ("""
        import tempfile
        folder = tempfile.mkdtemp()
        c = mdlink.Client(ADDRESS, "9999", "demo", "demo", capture=folder)
        c.subscribe("au2612")
        assert c.next_tick(timeout=60) is not None
        pid = os.fork()
        if pid == 0:
            c.close()
            sys.exit(0 if c.capture_stats() is None else 3)
        assert os.waitpid(pid, 0)[1] == 0
        received = c.received
        while c.received < received + 10:
            assert c.next_tick(timeout=60) is not None
        c.close()
        stats, captured = c.capture_stats(), mdlink.read_capture(folder)
        print("captured", len(captured) == stats["records"] == c.received, stats["dropped"],
              flush=True)
        """, "captured True 0"),
    # A multiprocessing child (fork start method) makes and uses its own.
    "a multiprocessing child with its own client": ("""
        import multiprocessing
        def child(queue):
            with mdlink.Client(ADDRESS, "9999", "demo", "demo") as mine:
                mine.subscribe("au2612")
                queue.put(sum(mine.next_tick(timeout=60) is not None for _ in range(3)))
        c = mdlink.Client(ADDRESS, "9999", "demo", "demo")
        c.subscribe("au2612")
        assert c.next_tick(timeout=60) is not None
        ctx = multiprocessing.get_context("fork")
        queue = ctx.Queue()
        p = ctx.Process(target=child, args=(queue,))
        p.start()
        print("child got", queue.get(timeout=60), flush=True)
        p.join(60)
        assert p.exitcode == 0 and c.next_tick(timeout=60) is not None
        assert [e.kind for e in c.events(timeout=0)] == ["connected", "login", "subscribed"]
        """, "child got 3"),
}


@pytest.mark.parametrize("case", EXIT_CASES)
def test_process_ends_cleanly(front, case):
    f = front("--rate", "200")
    script, expected = EXIT_CASES[case]
    done = run_python(script, 90, ADDRESS=f.address)
    assert done.returncode == 0, done.stderr
    assert "terminate called" not in done.stderr
    assert expected in done.stdout


# The main thread ends while a worker of each kind reads a client; Python
# joins those workers at exit (a pool's through its own exit hook), so the
# client must be closed first, whichever module was imported first.
WORKERS = {
    "ThreadPoolExecutor": """
        from concurrent.futures import ThreadPoolExecutor
        pool = ThreadPoolExecutor(1)
        pool.submit(read)
        """,
    "asyncio.to_thread": """
        import asyncio
        async def start():
            global reading
            reading = asyncio.ensure_future(asyncio.to_thread(read))
            await asyncio.to_thread(started.wait, 60)
        asyncio.new_event_loop().run_until_complete(start())
        """,
    "threading.Thread": """
        threading.Thread(target=read).start()
        """,
}


@pytest.mark.parametrize("first", [(), ("concurrent.futures.thread",)],
                         ids=["mdlink first", "pool module first"])
@pytest.mark.parametrize("worker", WORKERS)
def test_exit_with_a_worker_reading(front, worker, first):
    f = front("--rate", "200")
    script = """
        started = threading.Event()
        c = mdlink.Client(ADDRESS, "9999", "demo", "demo")
        c.subscribe("au2612")
        def read():
            for tick in c.ticks():
                started.set()
            print("reader ended", flush=True)
        """ + WORKERS[worker] + """
        assert started.wait(60)
        """
    done = run_python(script, 30, imports_first=first, ADDRESS=f.address)
    assert done.returncode == 0, done.stderr
    assert "reader ended" in done.stdout
