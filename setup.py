"""pip install . : the Python package mdlink, built by this project's CMake
build for the running interpreter, with libmdlink and libkelvobase installed
beside its extension module.

With no package index at hand, use the build packages installed already:

    pip install --no-build-isolation .
"""

import re
from pathlib import Path

from skbuild import setup

HERE = Path(__file__).resolve().parent
VERSION = re.search(r"project\(mdlink VERSION ([0-9.]+)",
                    (HERE / "CMakeLists.txt").read_text()).group(1)

setup(
    name="mdlink",
    version=VERSION,
    description="Market data from the mdlink client library: pull, push, asyncio, "
                "numpy batches and DataFrames",
    python_requires=">=3.9",
    packages=["mdlink"],
    package_dir={"mdlink": "python/mdlink"},
    extras_require={"batches": ["numpy"], "frames": ["numpy", "pandas"]},
    # The library, the extension and the package only: no tests, tools or
    # benchmarks, and only what the package needs is installed into it.
    cmake_args=["-DMDLINK_TESTS=OFF", "-DMDLINK_TOOLS=OFF", "-DMDLINK_BENCH=OFF",
                "-DMDLINK_SOAK=OFF", "-DMDLINK_PYTHON=ON"],
    cmake_install_target="install-python-package",
    zip_safe=False,
)
