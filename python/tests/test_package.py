"""The package as installed: its version, and what importing it says when
its compiled part was built for another Python."""

import os
import re
import shutil
import subprocess
import sys

import pytest

import mdlink

SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")


def test_version_is_the_projects():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        project = re.search(r"project\(mdlink VERSION ([0-9.]+)", f.read()).group(1)
    assert mdlink.__version__ == project == mdlink.api_version()


@pytest.mark.parametrize("rename, words", [
    ("_core.cpython-399-x86_64-linux-gnu.so", "built for CPython 3.99"),
    (None, "compiled part is missing"),
])
def test_import_says_which_python_the_module_was_built_for(tmp_path, rename, words):
    package = os.path.dirname(mdlink.__file__)
    copy = tmp_path / "mdlink"
    shutil.copytree(package, copy, ignore=shutil.ignore_patterns("__pycache__"))
    built = next(p for p in copy.iterdir() if p.name.startswith("_core."))
    if rename:
        built.rename(copy / rename)
    else:
        built.unlink()
    done = subprocess.run([sys.executable, "-c", "import mdlink"], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=str(tmp_path)), timeout=60)
    assert done.returncode != 0
    last = done.stderr.strip().splitlines()[-1]
    assert last.startswith("ImportError: ") and words in last, done.stderr
    running = f"Python {sys.version_info.major}.{sys.version_info.minor}"
    assert running in last and "pip install --no-build-isolation ." in last


def test_import_leaves_asyncio_until_the_first_await():
    done = subprocess.run([sys.executable, "-c", "import sys, mdlink; print('asyncio' in sys.modules)"],
                          capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert done.stdout.strip() == "False", done.stderr
