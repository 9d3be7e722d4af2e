# The programs a user runs first: python3 -m orvquote, and the examples.
import os
import re
import shutil
import socket
import subprocess
import sys

import pytest

from conftest import REPO, program

EXAMPLES = os.path.join(REPO, "examples", "python")


def run(args, cwd):
    return subprocess.run([sys.executable, *args], cwd=cwd, capture_output=True, text=True,
                          timeout=60)


def test_module_prints_quotes_like_the_minimal_example(sim, tmp_path):
    server = sim("--rate", "20")
    said = run(["-m", "orvquote", "--server", server.server, "--user", "demo", "--password",
                "demo", "--seconds", "2", "Au(T+D)", "nosuch"], tmp_path)
    assert said.returncode == 0, said.stderr
    # The library writes "[QuoteClient]oqs local disconnected" as it disconnects.
    first, *quotes, last = [s for s in said.stdout.splitlines() if "[QuoteClient]" not in s]
    assert first == "registered Au(T+D)" and last == f"{len(quotes)} quotes" and len(quotes) > 10
    line = r"Au\(T\+D\) +G \d\d:\d\d:\d\d\.\d{3}  last \S+  bid \S+ x \d+  ask \S+ x \d+  volume \d+"
    assert all(re.fullmatch(line, q) for q in quotes), quotes[:3]
    assert "orvquote: nosuch is not in the server's list" in said.stderr


def test_examples(sim, capture, tmp_path):
    drawn = run([os.path.join(EXAMPLES, "plot_capture.py"), capture, "--out", "c.png"], tmp_path)
    assert drawn.returncode == 0, drawn.stderr
    with open(tmp_path / "c.png", "rb") as png:
        assert png.read(8) == b"\x89PNG\r\n\x1a\n" and len(png.read()) > 10000
    table = run([os.path.join(EXAMPLES, "live_table.py"), "--server", sim().server,
                 "--seconds", "2", "Au(T+D)", "cu2506"], tmp_path)
    assert table.returncode == 0, table.stderr
    assert [line.split()[0] for line in table.stdout.splitlines()
            if "[QuoteClient]" not in line] == ["symbol", "Au(T+D)", "cu2506"]




def test_read_stream_decodes_what_the_bridge_publishes(sim, tmp_path):
    pytest.importorskip("redis", reason="skipped: needs python3-redis")
    if not shutil.which("redis-server"):
        pytest.skip("skipped: needs redis-server")
    with socket.socket() as free:
        free.bind(("127.0.0.1", 0))
        port = free.getsockname()[1]
    server = subprocess.Popen(["redis-server", "--port", str(port), "--bind", "127.0.0.1",
                               "--dir", str(tmp_path), "--save", "", "--appendonly", "no"],
                              stdout=subprocess.PIPE, text=True)
    try:
        if not any("Ready to accept connections" in line for line in server.stdout):
            pytest.fail("redis-server did not start")  # its log ended without the line
        subprocess.run([program("quote_bridge"), "--server", sim("--rate", "20").server,
                        "--redis", f"127.0.0.1:{port}", "--prefix", "t", "--seconds", "2",
                        "--status", "0", "Au(T+D)"], check=True, capture_output=True, timeout=30)
        read = run([os.path.join(EXAMPLES, "read_stream.py"), "--redis", f"127.0.0.1:{port}",
                    "--prefix", "t", "--count", "3", "Au(T+D)"], tmp_path)
    finally:
        server.kill()
        server.wait()
    lines = read.stdout.splitlines()
    assert len(lines) == 3 and all(re.search(r" Au\(T\+D\) +\S+  last \d", x) for x in lines), read
