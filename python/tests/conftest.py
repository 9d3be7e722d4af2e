# The tests drive the orvquote package that Python imports (the installed wheel when run from
# scripts/test.sh) against the simulator. ORVQUOTE_TEST_BIN names the folder with oqs_sim and
# quote_recorder (default: the dev build of this tree); without them the tests are skipped.
import os
import re
import signal
import subprocess
import sys
import threading

import pytest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.environ.get("ORVQUOTE_TEST_BIN", os.path.join(REPO, "build", "dev", "bin"))


def program(name):
    path = os.path.join(BIN, name)
    if not os.access(path, os.X_OK):
        pytest.skip(f"skipped: no {name} in {BIN} (set ORVQUOTE_TEST_BIN)")
    return path


# oqs_sim on 127.0.0.1 with a free port, stopped by Ctrl-C.
class Sim:
    def __init__(self, *args):
        self.process = subprocess.Popen([program("oqs_sim"), "--port", "0", *args],
                                        stderr=subprocess.PIPE, text=True)
        for line in self.process.stderr:  # its first lines say where it listens
            if found := re.search(r"listening on 127\.0\.0\.1:(\d+)", line):
                break
        else:
            pytest.fail(f"oqs_sim {' '.join(args)} did not start")
        threading.Thread(target=self.process.stderr.read, daemon=True).start()  # its log
        self.port = int(found.group(1))
        self.server = f"127.0.0.1:{self.port}"

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(10)


# Starts a simulator with the given options: sim("--rate", "50").
@pytest.fixture
def sim():
    started = []
    yield lambda *args: started.append(Sim(*args)) or started[-1]
    for s in started:
        s.stop()


# A two-second capture of every symbol of the invented market.
@pytest.fixture(scope="session")
def capture(tmp_path_factory):
    path = str(tmp_path_factory.mktemp("capture") / "market.oqcap")
    server = Sim("--rate", "20")
    try:
        subprocess.run([program("quote_recorder"), "--server", server.server, "--all",
                        "--seconds", "2", "--out", path], check=True, capture_output=True)
    finally:
        server.stop()
    return path


# Runs Python code in a child interpreter from `cwd` that prints "ready" and must end within
# `timeout` seconds from then; signal_after_ready is sent to it at "ready". Returns its status
# and what it printed after "ready".
def run_python(code, cwd, timeout=5, signal_after_ready=None):
    child = subprocess.Popen([sys.executable, "-c", code], cwd=cwd, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
    watchdog = threading.Timer(timeout + 30, child.kill)  # a child that never gets ready
    watchdog.start()
    try:
        assert child.stdout.readline().strip() == "ready", child.communicate()[0]
        if signal_after_ready is not None:
            child.send_signal(signal_after_ready)
        output, _ = child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        child.kill()
        pytest.fail(f"still running after {timeout} s: {child.communicate()[0]}")
    finally:
        watchdog.cancel()
    return child.returncode, output
