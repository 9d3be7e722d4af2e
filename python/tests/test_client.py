import socket
import time

import numpy as np
import pytest

import orvquote


def client_of(server, login=True):
    client = orvquote.Client("127.0.0.1", server.port)
    if login:
        client.login("demo", "demo")
    return client


# Batches until enough(all so far) holds, within `timeout` seconds.
def take(client, enough, timeout=10, **poll):
    got, deadline = [], time.monotonic() + timeout
    while not got or not enough(np.concatenate(got)):
        assert time.monotonic() < deadline, "the quotes did not come"
        got.append(client.poll(timeout=1.0, **poll))
    return np.concatenate(got)


def next_of(client, kind, timeout=10):
    deadline = time.monotonic() + timeout
    while (event := client.next_event(max(0.0, deadline - time.monotonic()))) is not None:
        if event.kind == kind:
            return event
    pytest.fail(f"no {kind.name} event within {timeout} s")


def test_connect_login_and_symbol_list(sim):
    with socket.socket() as unused:
        unused.bind(("127.0.0.1", 0))
        with pytest.raises(orvquote.ConnectError):
            orvquote.Client("127.0.0.1", unused.getsockname()[1])
    with client_of(sim()) as client:
        listed = client.symbols()
        assert ("G", "Au(T+D)") in listed and ("S", "cu2506") in listed
        assert next_of(client, orvquote.EventKind.CONNECTED)
    for options, password, text in [(["--refuse-login"], "demo", "login refused"),
                                    ([], "wrong", "bad user or password")]:
        with client_of(sim(*options), login=False) as client, \
                pytest.raises(orvquote.LoginRefused, match=text):
            client.login("demo", password)


def test_subscribe_receive_unsubscribe(sim):
    with client_of(sim("--rate", "50")) as client:
        with pytest.raises(orvquote.UnknownSymbol, match="nosuch"):
            client.subscribe(["Au(T+D)", "nosuch"])
        client.subscribe(["Au(T+D)", "cu2506"])
        client.subscribe("cu2506")  # subscribed already: no reply to wait for
        got = take(client, lambda q: min(np.unique(q["Symbol"], return_counts=True)[1]) >= 20
                   and len(set(q["Symbol"])) == 2, with_times=True)
        assert set(got["Symbol"]) == {b"Au(T+D)", b"cu2506"}
        assert set(got["ExchangeCode"][got["Symbol"] == b"Au(T+D)"]) == {b"G"}
        # The simulator's quotes: best bid < last < best ask, fields read at their offsets.
        assert (got["DepthLevels"]["Value"][:, 0] < got["MarketValue1"]).all()
        assert (got["MarketValue1"] < got["DepthLevels"]["Value"][:, 5]).all()
        assert (np.diff(got["ReceiveTimeNs"]) >= 0).all()
        stats = client.stats()
        assert stats.quotes_received >= len(got) and stats.quotes_dropped == 0

        client.unsubscribe("Au(T+D)")  # returns with the server's reply
        done = time.time_ns()
        later = take(client, lambda q: (q["ReceiveTimeNs"] > done).sum() >= 20, with_times=True)
        assert set(later["Symbol"][later["ReceiveTimeNs"] > done]) == {b"cu2506"}


def test_replayed_records_arrive_byte_for_byte(sim, capture):
    records = orvquote.read_capture(capture)
    with client_of(sim("--replay", capture, "--speed", "max")) as client:
        client.subscribe(sorted({s.decode() for s in records["Symbol"]}))
        got = take(client, lambda q: len(q) >= len(records), with_times=True)
    # Everything but the receive time: the exchange code and the 345 bytes of the quote.
    raw = lambda r: r.view(np.uint8).reshape(len(r), orvquote.RECORD_DTYPE.itemsize)[:, 8:]
    assert len(got) == len(records) and np.array_equal(raw(got), raw(records))


def test_dropped_connection_is_restored_and_a_refused_relogin_ends_the_session(sim):
    first = sim("--drop-after", "1", "--rate", "20")
    with client_of(first) as client:
        client.subscribe("Au(T+D)")
        next_of(client, orvquote.EventKind.CONNECTION_LOST)
        restored = next_of(client, orvquote.EventKind.CONNECTION_RESTORED).time_ns
        take(client, lambda q: (q["ReceiveTimeNs"] > restored).any(), with_times=True)
        assert client.stats().reconnects >= 1 and not client.stats().session_ended
        # The server comes back refusing logins: the library gives up, and batches() says so.
        first.stop()
        sim("--port", str(first.port), "--refuse-login")
        deadline = time.monotonic() + 15
        with pytest.raises(orvquote.SessionEnded):
            for _ in client.batches(timeout=1.0):
                assert time.monotonic() < deadline, "the session did not end"
        assert next_of(client, orvquote.EventKind.DISCONNECTED)
        with pytest.raises(orvquote.SessionEnded):
            client.subscribe("cu2506")
