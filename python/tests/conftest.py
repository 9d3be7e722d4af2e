# The tests drive the orvquote package that Python imports (the installed wheel when run from
# scripts/test.sh) against the simulator. ORVQUOTE_TEST_BIN names the folder with oqs_sim and
# quote_recorder (default: the dev build of this tree); without them the tests are skipped.
import os
import re
import signal
import subprocess
import sys
import threading
import time

import pytest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.environ.get("ORVQUOTE_TEST_BIN", os.path.join(REPO, "build", "dev", "bin"))


def program(name):
    path = os.path.join(BIN, name)
    if not os.access(path, os.X_OK):
        pytest.skip(f"skipped: no {name} in {BIN} (set ORVQUOTE_TEST_BIN)")
    return path


class Sim:
    """oqs_sim on 127.0.0.1 with a free port, stopped by Ctrl-C."""

    def __init__(self, tmp, *args):
        self.log = os.path.join(tmp, f"sim-{time.monotonic_ns()}.log")
        with open(self.log, "w") as log:
            self.process = subprocess.Popen([program("oqs_sim"), "--port", "0", *args],
                                            stderr=log)
        deadline = time.monotonic() + 10
        while not (found := re.search(r"listening on 127\.0\.0\.1:(\d+)", open(self.log).read())):
            assert self.process.poll() is None and time.monotonic() < deadline, open(self.log).read()
            time.sleep(0.02)
        self.port = int(found.group(1))
        self.server = f"127.0.0.1:{self.port}"

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(10)


@pytest.fixture
def sim(tmp_path):
    """Starts a simulator with the given options: sim("--rate", "50")."""
    started = []

    def start(*args):
        started.append(Sim(str(tmp_path), *args))
        return started[-1]

    yield start
    for s in started:
        s.stop()


@pytest.fixture(scope="session")
def capture(tmp_path_factory):
    """A two-second capture of every symbol of the invented market."""
    path = str(tmp_path_factory.mktemp("capture") / "market.oqcap")
    server = Sim(os.path.dirname(path), "--rate", "20")
    try:
        subprocess.run([program("quote_recorder"), "--server", server.server, "--all",
                        "--seconds", "2", "--out", path], check=True, capture_output=True)
    finally:
        server.stop()
    return path


def run_python(code, cwd, timeout=5, signal_after_ready=None):
    """Runs Python code in a child interpreter from `cwd` that prints "ready" and must end
    within `timeout` seconds from then; signal_after_ready is sent to it at "ready". Returns
    (seconds taken from "ready", return code, output)."""
    child = subprocess.Popen([sys.executable, "-c", code], cwd=cwd, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
    watchdog = threading.Timer(timeout + 30, child.kill)  # a child that never gets ready
    watchdog.start()
    try:
        assert child.stdout.readline().strip() == "ready", child.communicate()[0]
        if signal_after_ready is not None:
            child.send_signal(signal_after_ready)
        start = time.monotonic()
        output, _ = child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        child.kill()
        pytest.fail(f"still running after {timeout} s: {child.communicate()[0]}")
    finally:
        watchdog.cancel()
    return time.monotonic() - start, child.returncode, output
