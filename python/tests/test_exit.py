# The interpreter ends promptly however a program leaves its clients, and Ctrl-C ends a loop:
# each case in a child interpreter that must end within 5 s of saying "ready". (The library
# itself writes a line to standard output when it disconnects.)
import signal

import pytest

from conftest import run_python

START = """
import threading, orvquote
client = orvquote.Client("127.0.0.1", {port})
client.login("demo", "demo")
client.subscribe("Au(T+D)")
polling = threading.Event()
def receive():  # blocked in a poll: the simulator sends a quote a symbol every 100 s
    polling.set()
    for batch in client.batches(timeout=None):
        pass
"""

EXITS = {
    "never-closed": "client.poll()",
    "thread-polling": "threading.Thread(target=receive).start(); polling.wait(5)",
    "daemon-thread-polling": "threading.Thread(target=receive, daemon=True).start(); polling.wait(5)",
}


@pytest.mark.parametrize("leave", EXITS.values(), ids=EXITS.keys())
def test_interpreter_exits_promptly(sim, tmp_path, leave):
    code = START.format(port=sim("--rate", "0.01").port) + leave + "\nprint('ready', flush=True)\n"
    status, output = run_python(code, tmp_path)
    assert status == 0 and "Traceback" not in output, output


def test_ctrl_c_ends_a_batches_loop(sim, tmp_path):
    code = START.format(port=sim("--rate", "0.01").port) + """
try:
    print("ready", flush=True)
    for batch in client.batches(timeout=None):  # no time-out of its own: the chunks end it
        pass
except KeyboardInterrupt:
    print("interrupted")
client.close()
"""
    status, output = run_python(code, tmp_path, signal_after_ready=signal.SIGINT)
    assert status == 0 and output.startswith("interrupted\n"), output
