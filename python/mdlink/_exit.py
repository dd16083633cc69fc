"""The ends of a process, for every client still open.

- When the main thread ends, clients are closed before Python waits for the
  threads that are not daemons (a thread pool's workers among them), so that
  a thread blocked reading one returns (its iterator ends) and the process
  can end. Python runs the exit hooks of threading, a pool's join among
  them, before the main thread counts as ended, in an order set by what was
  imported first; so a daemon thread started with the first client looks
  every CHECK_SECONDS whether the main thread has reached that point (its
  outermost frame is threading's shutdown), whatever the order. atexit
  closes clients made later.
- In a child made by fork(), clients inherited from the parent are closed
  there without touching the parent's links."""

import atexit
import os
import sys
import threading
import time
import weakref

#: How often the watcher looks at the main thread.
CHECK_SECONDS = 0.1

_live = weakref.WeakSet()
_watcher = None
_watcher_lock = threading.Lock()
# Where the main thread is once its script has ended.
_SHUTDOWN_CODE = getattr(getattr(threading, "_shutdown", None), "__code__", None)


def track(client):
    _live.add(client)
    _watch_main_thread()


def _watch_main_thread():
    global _watcher
    if _watcher is not None:
        return
    main = threading.main_thread()
    if _main_thread_ended(main):
        return  # made while the process ends: atexit closes it
    with _watcher_lock:
        if _watcher is None:
            _watcher = threading.Thread(target=_close_when_ended, args=(main,),
                                        name="mdlink-exit", daemon=True)
            _watcher.start()


def _main_thread_ended(main):
    if not main.is_alive():
        return True
    frame = sys._current_frames().get(main.ident)
    if frame is None:
        return True
    while frame.f_back is not None:
        frame = frame.f_back
    return frame.f_code is _SHUTDOWN_CODE


def _close_when_ended(main):
    while not _main_thread_ended(main):
        time.sleep(CHECK_SECONDS)
    _close_all()


def _close_all():
    for client in list(_live):
        client.close()


def _forget_parent():
    global _watcher, _watcher_lock
    # The parent's watcher does not exist here; the fork's thread is this
    # process's main thread, and the next client watches it.
    _watcher = None
    _watcher_lock = threading.Lock()
    for client in list(_live):
        client._forget_parent()


atexit.register(_close_all)
if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_forget_parent)
