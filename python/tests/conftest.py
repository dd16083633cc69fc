"""Fixtures: mdfront from the build tree on an ephemeral loopback port."""

import csv
import faulthandler
import os
import shutil
import socket
import subprocess
import sys
import textwrap
import time

import pytest

BIN_DIR = os.path.abspath(os.environ.get(
    "MDLINK_BIN_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build", "bin")))
FASTTIME = os.environ.get("MDLINK_FASTTIME") == "1"

# A test that deadlocks ends the run (exit code 1) instead of hanging it;
# every thread's stack goes to hang-stacks.txt in the starting folder (the
# console is captured by pytest at that moment).
HANG_SECONDS = int(os.environ.get("MDLINK_TEST_HANG_SECONDS", "240"))
HANG_FILE = os.path.abspath("hang-stacks.txt")


@pytest.fixture(autouse=True)
def hang_watchdog(request):
    with open(HANG_FILE, "w") as f:
        f.write(f"{request.node.nodeid} did not end within {HANG_SECONDS} s\n")
        f.flush()
        faulthandler.dump_traceback_later(HANG_SECONDS, exit=True, file=f)
        yield
        faulthandler.cancel_dump_traceback_later()
    os.remove(HANG_FILE)


class Front:
    def __init__(self, *args):
        self.proc = subprocess.Popen([os.path.join(BIN_DIR, "mdfront"), "--port", "0", *args],
                                     stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("mdfront listening on "):
            self.stop()
            raise RuntimeError(f"mdfront did not start: {line!r}")
        self.address = "tcp://" + line.split()[-1]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(30)
        self.proc.stdout.close()


@pytest.fixture
def front():
    """front(*mdfront_flags) -> Front, stopped after the test."""
    started = []

    def start(*args):
        f = Front(*args)
        started.append(f)
        return f

    yield start
    for f in started:
        f.stop()


CREDENTIALS = dict(broker="9999", user="demo", password="demo")


def optional(module):
    """A module the package may do without (numpy, pandas): its test skips
    when it is missing, unless MDLINK_PYTHON_OPTIONAL=require (CI)."""
    if os.environ.get("MDLINK_PYTHON_OPTIONAL") == "require":
        return __import__(module)
    return pytest.importorskip(module)


def refused_address():
    """A loopback address where nothing listens: connections are refused."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return f"tcp://127.0.0.1:{s.getsockname()[1]}"


def run_python(script, timeout=120, imports_first=(), **values):
    """Runs `script` in a fresh interpreter that imports this mdlink (after
    the modules in `imports_first`), with `values` as globals; the
    CompletedProcess, with text output."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    prelude = "import os, sys, threading, time\n"
    prelude += "".join(f"import {module}\n" for module in imports_first) + "import mdlink\n"
    prelude += "".join(f"{name} = {value!r}\n" for name, value in values.items())
    return subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(script)], env=env,
                          timeout=timeout, capture_output=True, text=True)


def wait_until(predicate, timeout=60, what="condition"):
    """Polls `predicate` until true; fails the test after a generous bound."""
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            pytest.fail(f"timed out waiting for {what}")
        time.sleep(0.005)


def write_replay_csv(path, rows, encoding="utf-8"):
    """A CSV of depth records as mdfront --replay reads it (every member by
    name), its texts written in `encoding`."""
    import mdlink
    names = [m[0] for m in mdlink._core.members("Depth")]
    with open(path, "w", newline="", encoding=encoding) as f:
        w = csv.writer(f)
        w.writerow(["RecvTimeUs", *names])
        for i, row in enumerate(rows):
            w.writerow([i, *(row.get(n, 0 if n not in TEXT_MEMBERS else "") for n in names)])


TEXT_MEMBERS = {"TradingDay", "InstrumentID", "ExchangeID", "ExchangeInstID", "UpdateTime", "ActionDay"}


def sample_rows(instrument="au2612", count=5):
    """Depth records whose every member differs from the others and between rows."""
    import mdlink
    rows = []
    for i in range(count):
        row = {}
        for k, (name, kind, _, _) in enumerate(mdlink._core.members("Depth")):
            if kind == "double":
                row[name] = 100.25 + 10 * k + i
            elif kind == "int":
                row[name] = 1000 * k + i
        row.update(TradingDay="20261208", InstrumentID=instrument, ExchangeID="SHFE",
                   ExchangeInstID=instrument, UpdateTime=f"09:30:{i:02d}", ActionDay="20261209")
        rows.append(row)
    return rows


sys.path.insert(0, os.path.dirname(__file__))


@pytest.fixture(scope="session", autouse=True)
def log_folder(tmp_path_factory):
    """Clients write ./KVMDLog under the working directory: a temporary one."""
    previous = os.getcwd()
    os.chdir(tmp_path_factory.mktemp("work"))
    yield
    os.chdir(previous)


class NatsServer:
    """A JetStream nats-server on a free loopback port, its store under `folder`."""

    def __init__(self, program, folder):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.url = f"nats://127.0.0.1:{self.port}"
        self.proc = subprocess.Popen([program, "-js", "-a", "127.0.0.1", "-p", str(self.port),
                                      "-sd", str(folder)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", self.port)) == 0
        wait_until(listening, what="nats-server to listen")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(30)


@pytest.fixture
def nats_server(tmp_path):
    """A JetStream server for the test. Skips without nats-server (or a
    package built without libnats-dev), unless MDLINK_REQUIRE_NATS=1 (CI)."""
    import mdlink
    program = shutil.which("nats-server")
    reason = ("nats-server not found: install the Debian package nats-server" if not program
              else None if mdlink._core.has_bus else "mdlink was built without libnats-dev")
    if reason:
        if os.environ.get("MDLINK_REQUIRE_NATS") == "1":
            pytest.fail(reason)
        pytest.skip(reason)
    server = NatsServer(program, tmp_path / "store")
    yield server
    server.stop()


class Relay:
    """mdrelay publishing a front's records into a server; its output in a file."""

    def __init__(self, front, server, instruments, folder):
        self.output = folder / f"relay-{instruments}.out"
        with open(self.output, "w") as out:
            self.proc = subprocess.Popen(
                [os.path.join(BIN_DIR, "mdrelay"), "--front", front.address, "--nats", server.url,
                 "--instruments", instruments, "--status-interval", "100ms"],
                stdout=out, stderr=subprocess.STDOUT)

    def status(self):
        """The last counters line, as a dict."""
        with open(self.output) as f:
            lines = [line for line in f if line.startswith("mdrelay: received=")]
        return {k: int(v) for k, v in (p.split("=") for p in lines[-1].split()[1:])} if lines else {}

    def stop(self):
        """SIGTERM; the exit status."""
        self.proc.terminate()
        return self.proc.wait(60)
