"""The ends of a process, for every client still open.

- When the main thread ends, clients are closed before Python waits for the
  threads that are not daemons, so that a thread blocked reading one returns
  (its iterator ends) and the process can end. The hook is the one
  concurrent.futures uses; atexit closes clients made later.
- In a child made by fork(), clients inherited from the parent are closed
  there without touching the parent's links."""

import atexit
import os
import threading
import weakref

_live = weakref.WeakSet()


def track(client):
    _live.add(client)


def _close_all():
    for client in list(_live):
        client.close()


def _forget_parent():
    for client in list(_live):
        client._forget_parent()


_register_before_join = getattr(threading, "_register_atexit", None)
if _register_before_join is not None:
    _register_before_join(_close_all)
atexit.register(_close_all)
if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_forget_parent)
