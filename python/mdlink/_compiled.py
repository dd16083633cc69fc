"""The compiled part, _core, and what to say when it does not fit this
Python: its file name carries the Python it was built for."""

import os
import re
import sys
import sysconfig

_TAG = re.compile(r"_core\.(cpython|pypy)-?(\d)(\d+)[^.]*\.(so|pyd)$")


def _explain(error):
    here = os.path.dirname(os.path.abspath(__file__))
    built = []
    for name in sorted(os.listdir(here)):
        m = _TAG.match(name)
        if m:
            built.append(f"{'CPython' if m.group(1) == 'cpython' else 'PyPy'} "
                         f"{m.group(2)}.{m.group(3)} ({name})")
    running = f"Python {sys.version_info.major}.{sys.version_info.minor} ({sys.executable})"
    if not built:
        return (f"mdlink's compiled part is missing from {here} ({error}); build it for "
                f"{running} with `pip install --no-build-isolation .` from the source tree")
    return (f"mdlink's compiled part was built for {', '.join(built)}, not for this "
            f"{running}, which loads '_core{sysconfig.get_config_var('EXT_SUFFIX')}': "
            "run it with the Python it was built for, or build it for this one with "
            "`pip install --no-build-isolation .` from the source tree")


try:
    from . import _core
except ModuleNotFoundError as e:
    if e.name != f"{__package__}._core":
        raise
    raise ImportError(_explain(e)) from e
