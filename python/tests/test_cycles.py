"""Creating and closing clients leaves no thread, descriptor, memory or object behind."""

import gc
import os
import weakref

import mdlink

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
