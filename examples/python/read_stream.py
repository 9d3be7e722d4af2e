#!/usr/bin/python3
"""Reads the quotes of one symbol that quote_bridge publishes into Redis, and prints them.

    read_stream.py [--redis HOST:PORT] [--prefix PREFIX] [--count N] [--follow] SYMBOL

The last N entries of the stream PREFIX:q:SYMBOL (default 10), oldest first; with --follow it
then waits for new ones until Ctrl-C. Each entry's "quote" field holds the 345-byte record as
the library delivered it, which the orvquote package's dtype reads without a copy. Field
meanings: docs/quote-fields.md; the streams: docs/bridge.md.

Needs Debian's python3-redis and python3-numpy, and the orvquote Python package (python/ in
this repository) on the path.
"""

import argparse
import datetime
import sys

import numpy as np
import redis

from orvquote import QUOTE_DTYPE


def text(field):
    """A fixed-width text field of the record as a string."""
    return bytes(field).split(b"\0", 1)[0].decode("ascii", "replace")


def show(entries):
    """Prints one line per entry: receive time, symbol, time, last price, volume, bid, ask."""
    if not entries:
        return
    records = np.frombuffer(b"".join(f[b"quote"] for _, f in entries), dtype=QUOTE_DTYPE)
    for (entry_id, fields), q in zip(entries, records):
        received = datetime.datetime.fromtimestamp(
            int(fields[b"recv_ns"]) / 1e9, tz=datetime.timezone.utc)
        print(f"{entry_id.decode()}  {received:%H:%M:%S.%f}  {text(q['Symbol']):<10} "
              f"{text(q['TimeText'])}  last {q['MarketValue1']:.2f}  volume {q['MarketCount1']}  "
              f"bid {q['DepthLevels'][0]['Value']:.2f}  ask {q['DepthLevels'][5]['Value']:.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("symbol")
    parser.add_argument("--redis", default="127.0.0.1:6379", help="HOST:PORT")
    parser.add_argument("--prefix", default="orvq")
    parser.add_argument("--count", type=int, default=10)
    parser.add_argument("--follow", action="store_true")
    args = parser.parse_args()

    host, _, port = args.redis.rpartition(":")
    client = redis.Redis(host=host, port=int(port))
    key = f"{args.prefix}:q:{args.symbol}"
    last = list(reversed(client.xrevrange(key, count=args.count)))
    show(last)
    if not args.follow:
        return 0 if last else 1
    after = last[-1][0] if last else b"$"
    try:
        while True:
            for _, entries in client.xread({key: after}, block=0, count=1000):
                show(entries)
                after = entries[-1][0]
    except KeyboardInterrupt:
        return 0


if __name__ == "__main__":
    sys.exit(main())
