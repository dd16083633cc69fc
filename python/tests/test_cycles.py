"""Creating and closing clients leaves no thread, descriptor, memory or object behind."""

import gc
import os
import subprocess
import sys
import weakref

import mdlink
from conftest import run_python, wait_until

CREDENTIALS = dict(broker="9999", user="demo", password="demo")


def usage():
    gc.collect()
    with open("/proc/self/statm") as f:
        rss_pages = int(f.read().split()[1])
    return (len(os.listdir("/proc/self/task")), len(os.listdir("/proc/self/fd")),
            rss_pages * os.sysconf("SC_PAGE_SIZE"))


class Counting(mdlink.Handler):
    ticks = 0

    def on_depth(self, tick):
        self.ticks += 1


def cycle(address, push):
    handler = Counting() if push else None
    client = mdlink.Client(address, handler=handler, **CREDENTIALS)
    client.wait_login(timeout=60)
    client.subscribe("au2612")
    if push:
        client.subscribe("IF2612")
    else:
        assert client.next_tick(timeout=60).InstrumentID == "au2612"
    client.close()
    return weakref.ref(client)


def test_hundred_create_close_cycles(front):
    f = front("--rate", "200", "--instruments", "au2612,IF2612")
    for i in range(10):  # the library's thread, log file and allocator pools settle
        cycle(f.address, i % 2 == 0)
    threads, fds, rss = usage()
    refs = [cycle(f.address, i % 2 == 0) for i in range(100)]
    gc.collect()
    assert all(r() is None for r in refs)
    threads_after, fds_after, rss_after = usage()
    assert threads_after == threads
    assert fds_after == fds
    # A leaked client with its queue would add tens of KiB a cycle.
    assert rss_after - rss < 1 << 20, rss_after - rss


def test_cycle_through_the_handler_is_collected_and_closed(front):
    class Holder(mdlink.Handler):
        client = None
        ticks = 0

        def on_depth(self, tick):
            self.ticks += 1

    f = front("--rate", "100")
    h = Holder()
    client = mdlink.Client(f.address, handler=h, **CREDENTIALS)
    h.client = client  # client -> session -> handler -> client
    client.subscribe("au2612")
    wait_until(lambda: h.ticks > 0, what="a pushed tick")
    ref = weakref.ref(client)
    del client, h
    gc.collect()
    assert ref() is None


def test_interpreter_exit_with_clients_left_open(front):
    f = front("--rate", "200")
    script = f"""
import sys, mdlink
class Busy(mdlink.Handler):
    def on_depth(self, tick):
        sum(range(1000))
pushed = mdlink.Client({f.address!r}, "9999", "demo", "demo", handler=Busy())
pulled = mdlink.Client({f.address!r}, "9999", "demo", "demo")
pushed.subscribe("au2612")
pulled.subscribe("au2612")
assert pulled.next_tick(timeout=60) is not None
sys.exit(3)  # neither closed: the interpreter must still end, with this code
"""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", script], env=env, timeout=120,
                          capture_output=True, text=True)
    assert done.returncode == 3, done.stderr


def test_collector_sees_nothing_of_a_client_not_yet_built():
    # The collector may visit a client while it is built (building lets
    # the GIL go); what it then finds must not be read as built. Freed
    # memory of the client's size, full of bad pointers, makes a misread
    # crash.
    done = run_python("""
        import gc
        from mdlink import _core
        for _ in range(100):
            junk = bytearray(b"\\x01" * 751)
            del junk
            unbuilt = _core.Session.__new__(_core.Session)
            assert gc.get_referents(unbuilt) == [_core.Session]
            del unbuilt
        print("seen")
    """)
    assert (done.returncode, done.stdout) == (0, "seen\n"), done.stderr
