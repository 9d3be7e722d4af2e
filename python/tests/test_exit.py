# The interpreter ends promptly however a program leaves its clients, and Ctrl-C ends a loop:
# each case in a child interpreter that must end within 5 s of saying "ready".
import signal

import pytest

from conftest import run_python

START = """
import threading, orvquote
client = orvquote.Client("127.0.0.1", {port})
client.login("demo", "demo")
client.subscribe("Au(T+D)")
first = threading.Event()
def receive():  # blocked in a poll between the simulator's quotes, one a second
    for batch in client.batches(timeout=None):
        first.set()
"""

EXITS = {
    "never-closed": "next(client.batches())",
    "thread-polling": "threading.Thread(target=receive).start(); first.wait(5)",
    "daemon-thread-polling": "threading.Thread(target=receive, daemon=True).start(); first.wait(5)",
}


@pytest.mark.parametrize("leave", EXITS.values(), ids=EXITS.keys())
def test_interpreter_exits_promptly(sim, tmp_path, leave):
    code = START.format(port=sim("--rate", "1").port) + leave + "\nprint('ready', flush=True)\n"
    took, status, output = run_python(code, tmp_path)
    assert status == 0 and output == "ready\n", output


def test_ctrl_c_ends_a_batches_loop(sim, tmp_path):
    code = START.format(port=sim("--rate", "1").port) + """
try:
    for batch in client.batches(timeout=None):  # no time-out of its own: the chunks end it
        print("ready", flush=True)
except KeyboardInterrupt:
    print("interrupted", client.stats().quotes_received > 0)
client.close()
"""
    took, status, output = run_python(code, tmp_path, signal_after_ready=signal.SIGINT)
    assert status == 0 and output.endswith("interrupted True\n"), output
