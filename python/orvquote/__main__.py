"""python3 -m orvquote: connects, logs in, registers the symbols named and prints one line per
quote for a number of seconds, as the C++ minimal example does.

    python3 -m orvquote [--server IP:PORT] [--user NAME] [--password TEXT] [--seconds N] [SYMBOL ...]
"""

import argparse
import sys
import time

import orvquote


def _options(argv):
    parser = argparse.ArgumentParser(prog="python3 -m orvquote",
                                     description="Prints the quotes of the symbols named.")
    parser.add_argument("--server", default="127.0.0.1:7100", help="IP:PORT")
    parser.add_argument("--user", default="demo")
    parser.add_argument("--password", default="demo")
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("symbols", nargs="*", metavar="SYMBOL")
    o = parser.parse_args(argv)
    host, _, port = o.server.rpartition(":")
    if not host or len(host) > 15 or not port.isdigit() or not 0 < int(port) < 65536:
        parser.error("--server wants IP:PORT")
    if len(o.user) > 15 or len(o.password) > 32:
        parser.error("--user takes at most 15 characters, --password at most 32")
    if not 1 <= o.seconds <= 86400:
        parser.error("--seconds wants a whole number from 1 to 86400")
    return o, host, int(port), o.symbols or ["Au(T+D)"]


def _lines(records):
    depth = records["DepthLevels"]
    for fields in zip(records["Symbol"].tolist(), records["ExchangeCode"].tolist(),
                      records["TimeText"].tolist(), records["TimeValue"].tolist(),
                      records["MarketValue1"].tolist(), depth["Value"][:, 0].tolist(),
                      depth["Count"][:, 0].tolist(), depth["Value"][:, 5].tolist(),
                      depth["Count"][:, 5].tolist(), records["MarketCount1"].tolist()):
        symbol, code, time_text = (t.split(b"\0", 1)[0].decode(errors="replace")
                                   for t in fields[:3])
        yield ("%-10s %s %s.%03d  last %.2f  bid %.2f x %d  ask %.2f x %d  volume %d\n"
               % ((symbol, code, time_text) + fields[3:]))


def _subscribe(client, wanted):
    listed = {symbol for _, symbol in client.symbols()}
    for symbol in wanted:
        if symbol not in listed:
            print(f"orvquote: {symbol} is not in the server's list", file=sys.stderr)
    known = [s for s in wanted if s in listed]
    refused = []
    try:
        client.subscribe(known)
    except orvquote.RegisterRefused as e:
        refused = e.symbols
    for symbol in known:
        print(("refused " if symbol in refused else "registered ") + symbol)


def _receive(client, seconds):
    """The quotes received, and whether the session ended before the time was up."""
    count, deadline = 0, time.monotonic() + seconds
    try:
        while (left := deadline - time.monotonic()) > 0:
            records = client.poll(4096, min(left, 1.0), with_times=True)
            sys.stdout.write("".join(_lines(records)))
            count += len(records)
    except orvquote.SessionEnded:
        print("orvquote: disconnected", file=sys.stderr)
        return count, True
    except KeyboardInterrupt:
        pass
    return count, False


def main(argv=None):
    o, host, port, wanted = _options(argv)
    try:
        client = orvquote.Client(host, port)
    except orvquote.ConnectError:
        print(f"orvquote: cannot connect to {host}:{port}", file=sys.stderr)
        return 1
    with client:
        try:
            client.login(o.user, o.password)
        except (orvquote.LoginRefused, TimeoutError) as e:
            print(f"orvquote: login failed: {getattr(e, 'text', e)}", file=sys.stderr)
            return 1
        _subscribe(client, wanted)
        count, ended = _receive(client, o.seconds)
    print(f"{count} quotes")
    return 1 if ended else 0


if __name__ == "__main__":
    sys.exit(main())
