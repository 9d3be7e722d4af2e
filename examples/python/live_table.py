"""A live table of the last quote of each symbol, redrawn once a second on a terminal (and
printed once at the end otherwise).

    python3 live_table.py [--server IP:PORT] [--user NAME] [--password TEXT] [--seconds N] SYMBOL ...

The quotes arrive as NumPy batches; only the last quote of each symbol in a batch is kept.
"""

import argparse
import sys
import time

import numpy as np

import orvquote

HEADER = "%-10s %-12s %12s %12s %7s %12s %7s %10s %8s" % (
    "symbol", "time", "last", "bid", "size", "ask", "size", "volume", "quotes")


def text(field):
    return field.split(b"\0", 1)[0].decode(errors="replace")  # up to its terminating NUL


def row(q, seen):
    depth = q["DepthLevels"]
    return "%-10s %-12s %12.2f %12.2f %7d %12.2f %7d %10d %8d" % (
        text(q["Symbol"]), "%s.%03d" % (text(q["TimeText"]), q["TimeValue"]),
        q["MarketValue1"], depth["Value"][0], depth["Count"][0], depth["Value"][5],
        depth["Count"][5], q["MarketCount1"], seen)


def main():
    parser = argparse.ArgumentParser(description="The last quote of each symbol, live.")
    parser.add_argument("--server", default="127.0.0.1:7100")
    parser.add_argument("--user", default="demo")
    parser.add_argument("--password", default="demo")
    parser.add_argument("--seconds", type=float, default=float("inf"))
    parser.add_argument("symbols", nargs="+", metavar="SYMBOL")
    o = parser.parse_args()
    host, _, port = o.server.rpartition(":")
    last, seen = {}, {}
    with orvquote.Client(host, int(port)) as client:
        client.login(o.user, o.password)
        client.subscribe(o.symbols)
        end, redraw = time.monotonic() + o.seconds, 0.0
        try:
            while time.monotonic() < end:
                batch = client.poll(timeout=min(1.0, max(0.0, end - time.monotonic())))
                # The last index of each symbol: np.unique on the batch read backwards.
                names, back, counts = np.unique(batch["Symbol"][::-1], return_index=True,
                                                return_counts=True)
                for name, at, count in zip(names, back, counts):
                    last[name] = batch[len(batch) - 1 - at]
                    seen[name] = seen.get(name, 0) + count
                if sys.stdout.isatty() and time.monotonic() >= redraw:
                    redraw = time.monotonic() + 1.0
                    table = "\n".join(row(last[n], seen[n]) for n in sorted(last))
                    print(f"\x1b[H\x1b[J{HEADER}\n{table}", flush=True)
        except KeyboardInterrupt:
            pass
        except orvquote.SessionEnded:  # the library does not reconnect: the table is final
            print("the session ended", file=sys.stderr)
    print(HEADER, *(row(last[n], seen[n]) for n in sorted(last)), sep="\n")


if __name__ == "__main__":
    main()
