"""The compiled part, _core, and what to say when it does not fit this
Python: its file name carries the Python it was built for."""

import importlib.machinery
import os
import re
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))
_TAG = re.compile(r"_core\.(cpython|pypy)-?(\d)(\d+)[^.]*\.(so|pyd)$")


def _loadable():
    """Whether a _core file this Python would load is here."""
    return any(os.path.exists(os.path.join(_HERE, "_core" + suffix))
               for suffix in importlib.machinery.EXTENSION_SUFFIXES)


def _explain(error):
    built = []
    for name in sorted(os.listdir(_HERE)):
        m = _TAG.match(name)
        if m:
            built.append(f"{'CPython' if m.group(1) == 'cpython' else 'PyPy'} "
                         f"{m.group(2)}.{m.group(3)} ({name})")
    running = f"Python {sys.version_info.major}.{sys.version_info.minor} ({sys.executable})"
    rebuild = (f"`pip install --no-build-isolation .` from the source tree, run by this "
               f"Python, builds it for {running}")
    if not built:
        return f"mdlink's compiled part is missing from {_HERE} ({error}); {rebuild}"
    return (f"mdlink's compiled part was built for {', '.join(built)}, not for this "
            f"{running}: run it with that Python, or {rebuild}")


try:
    from . import _core
except ImportError as e:
    if _loadable():
        raise  # something else, such as a library it needs
    raise ImportError(_explain(e)) from None
