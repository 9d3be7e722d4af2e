"""Quotes per second through orvquote's batches() during a flood, next to the C++ sink in the
same run: one flood sender (flood_peer serve), and the two receivers taking turns, each in a
process of its own, measured alike from the first quote to the last (wall time and the whole
process's CPU time). Prints table rows and the target line; asserts nothing about speed.

    batches_bench.py FLOOD_PEER [--smoke]

The orvquote package must be importable (scripts/bench.sh points PYTHONPATH at python/ and
ORVQUOTE_LIBRARY at the release build's library).
"""

import statistics
import subprocess
import sys
import time

import orvquote

BATCH = 4096


def python_round(port, quotes):
    """Receives one flood through batches(); (quotes per second, CPU ns per quote, dropped)."""
    with orvquote.Client("127.0.0.1", port) as client:
        client.login("bench", "")
        client.subscribe("SIMA01")  # the flood follows the reply
        taken, first = 0, None  # counted from the first batch on, which starts the clocks
        for batch in client.batches(max=BATCH, timeout=10.0):
            if not len(batch):
                raise RuntimeError("the flood stalled")
            if first is None:
                first, first_cpu = time.perf_counter(), time.process_time()
            else:
                taken += len(batch)
            stats = client.stats()
            if stats.quotes_received == quotes and stats.queue_depth == 0:
                break
        seconds, cpu = time.perf_counter() - first, time.process_time() - first_cpu
    return taken / seconds, cpu * 1e9 / taken, stats.quotes_dropped


def cxx_round(flood_peer, port, quotes):
    said = subprocess.run([flood_peer, "sink", str(port), str(quotes)], check=True, text=True,
                          stdout=subprocess.PIPE).stdout.splitlines()[-1].split()  # after the
    # library's own line as it disconnects
    return float(said[0]), float(said[1]), 0


def main():
    flood_peer, smoke = sys.argv[1], "--smoke" in sys.argv
    quotes, rounds = (20000, 1) if smoke else (1000000, 5)
    server = subprocess.Popen([flood_peer, "serve", str(quotes)], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    port = int(server.stdout.readline().split()[1])
    results = {"cxx": [], "python": []}
    try:
        for _ in range(rounds):  # alternating, so that both meet the same machine
            results["cxx"].append(cxx_round(flood_peer, port, quotes))
            results["python"].append(python_round(port, quotes))
    finally:
        server.stdin.close()
        server.wait()
    median = {k: [statistics.median(r[i] for r in v) for i in range(3)]
              for k, v in results.items()}
    (cxx_rate, cxx_cpu, _), (py_rate, py_cpu, dropped) = median["cxx"], median["python"]
    print(f"| {'receiver, median of %d floods of %d quotes' % (rounds, quotes):<54} "
          f"| {'quotes/s':>10} | {'CPU ns/quote':>12} |")
    print(f"| {'C++ sink (OnQuote counts)':<54} | {cxx_rate:>10.0f} | {cxx_cpu:>12.1f} |")
    print(f"| {'Python batches(max=%d), counts (%d dropped)' % (BATCH, dropped):<54} "
          f"| {py_rate:>10.0f} | {py_cpu:>12.1f} |")
    ratio = py_rate / cxx_rate
    print(f"{'MET' if ratio >= 0.5 else 'MISSED':<7} Python batches() throughput, at least 0.5 x "
          f"the C++ sink's: {ratio:.2f} x ({py_rate:.0f} against {cxx_rate:.0f} quotes/s)")


if __name__ == "__main__":
    main()
