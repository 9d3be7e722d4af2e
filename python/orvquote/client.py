"""The quote client, in the C interface's pull mode: the library queues quotes and events, and
Python takes them in batches on its own threads. No Python code ever runs on a library thread.

Every call that waits does so in chunks of at most CHUNK_S, so Ctrl-C, close() from another
thread and the exit hook take effect within one chunk. A client never closed is closed by its
finalizer, or by the exit hook once the main thread ends (before Python waits for other
threads, whose batches() loops then end), so the interpreter exits promptly.
"""

import atexit
import collections
import ctypes
import enum
import math
import threading
import time
import weakref

import numpy as np

from . import _lib
from ._records import QUOTE_DTYPE, RECORD_DTYPE

# The longest one library call blocks.
CHUNK_S = 0.1
# How long close() waits for calls in flight on other threads; only a connect takes longer
# than a chunk (at most 3 s).
_CLOSE_WAIT_S = 5.0
_ERR_CLOSED = -6


class OrvQuoteError(Exception):
    """An error the library reported; `status` is its negative status code, if any."""

    def __init__(self, message, status=None):
        super().__init__(message)
        self.status = status


class ConnectError(OrvQuoteError):
    """The server could not be reached."""


class LoginRefused(OrvQuoteError):
    """The server refused the login; `text` is its reason."""

    def __init__(self, text):
        super().__init__(f"login refused: {text}")
        self.text = text


class UnknownSymbol(OrvQuoteError):
    """Symbols that are not in the server's symbol list; `symbols` names them."""

    def __init__(self, symbols):
        super().__init__("not in the server's symbol list: " + ", ".join(symbols))
        self.symbols = symbols


class RegisterRefused(OrvQuoteError):
    """Symbols the server refused to register (or unregister); `symbols` names them."""

    def __init__(self, symbols):
        super().__init__("refused by the server: " + ", ".join(symbols))
        self.symbols = symbols


class ClientClosed(OrvQuoteError):
    """The client was closed (by close(), its finalizer or the exit hook)."""


class SessionEnded(OrvQuoteError):
    """The session is over and the library will not reconnect: the server closed the
    connection before the login or refused a login, or the reconnects were given up. Raised
    once every quote received before the end has been taken; events() still tells why."""


class EventKind(enum.IntEnum):
    CONNECTED = 1
    DISCONNECTED = 2
    LOGIN_REPLY = 3  # value: success; text: the reason when refused
    LOG = 4  # value: level (0 progress, 1 notices, 3 errors); text: the line
    REGISTER_REPLY = 5  # exchange_code, text: the symbol; value: success
    UNREGISTER_REPLY = 6  # exchange_code, text: the symbol; value: success
    SYMBOL = 7  # exchange_code, text: the symbol; value: 1 on the list's end
    CONNECTION_LOST = 8  # the library reconnects by itself
    CONNECTION_RESTORED = 9  # logged in again, registrations being restored


Event = collections.namedtuple("Event", "kind exchange_code value text time_ns")
Stats = collections.namedtuple(
    "Stats",
    "quotes_received quotes_dropped reconnects queue_depth events_dropped session_ended")


def _check(status, what):
    if status == _ERR_CLOSED:
        raise ClientClosed(f"{what}: the client is closed", status)
    if status < 0:
        raise OrvQuoteError(f"{what}: {_lib.status_text(status)}", status)
    return status


class _Handle:
    """The C client and the calls in flight on it. A call enters only while the client is open;
    close() lets the calls in flight end (each within a chunk), then destroys the client, so
    that no call ever reaches a destroyed one. Safe from any thread."""

    def __init__(self, pointer):
        self._pointer = pointer
        self._busy = collections.Counter()  # calls in flight, by thread
        self._closing = False
        self._changed = threading.Condition(threading.Lock())

    def call(self, function, *args):
        me = threading.get_ident()
        with self._changed:
            if self._closing:
                raise ClientClosed("the client is closed")
            self._busy[me] += 1
        try:
            return function(self._pointer, *args)
        finally:
            with self._changed:
                self._busy[me] -= 1
                self._changed.notify_all()

    def _others_busy(self):
        # The closing thread is in no call of its own: a count it holds was left by a Ctrl-C
        # that struck between the count and the call.
        me = threading.get_ident()
        return any(n > 0 for thread, n in self._busy.items() if thread != me)

    def close(self):
        with self._changed:
            if self._pointer is None:
                return
            self._closing = True
            # A call that does not come back is left alone rather than run into freed memory.
            if not self._changed.wait_for(lambda: not self._others_busy(), _CLOSE_WAIT_S):
                return
            pointer, self._pointer = self._pointer, None
        _live.discard(self)
        _lib.lib.orvq_destroy(pointer)


_live = set()  # handles not closed yet


def _close_all():
    for handle in list(_live):
        handle.close()


# Before Python waits for non-daemon threads at exit where this interpreter offers it (so that
# their polls end), and otherwise with the ordinary exit hooks.
try:
    threading._register_atexit(_close_all)
except (AttributeError, RuntimeError):
    pass
atexit.register(_close_all)


def _wait(handle, function, args, timeout, give_up=None):
    """function(client, *args, ms) in chunks of at most CHUNK_S until it returns non-zero,
    `timeout` seconds (None: no end) have passed, or give_up() says nothing will come."""
    deadline = None if timeout is None else time.monotonic() + timeout
    while True:
        left = CHUNK_S if deadline is None else max(0.0, deadline - time.monotonic())
        result = handle.call(function, *args, math.ceil(min(left, CHUNK_S) * 1000))
        if result != 0 or (deadline is not None and time.monotonic() >= deadline):
            return result
        if give_up is not None and give_up():
            return result


class Client:
    """One connection to a quote server. login, symbols, subscribe and close belong to one
    controlling thread; poll, batches and stats are safe from any thread. Events are taken by
    one thread at a time: the calls that wait for a reply keep the others for events()."""

    def __init__(self, host="127.0.0.1", port=7100, *, queue_capacity=0):
        """Connects; ConnectError when the server cannot be reached. queue_capacity: quotes the
        library keeps for poll (0: 65536); when it is full, arriving quotes are dropped and
        counted (stats().quotes_dropped)."""
        pointer = ctypes.c_void_p()
        _check(_lib.lib.orvq_create(None, None, queue_capacity, ctypes.byref(pointer)), "create")
        self._handle = _Handle(pointer.value)
        _live.add(self._handle)
        weakref.finalize(self, self._handle.close)
        self._pending = collections.deque(maxlen=16384)
        self._listed = None  # symbol -> exchange code, from the last symbols()
        self._subscribed = set()  # the library asks for nothing twice, so no reply would come
        status = self._handle.call(_lib.lib.orvq_connect, host.encode(), port)
        if status < 0:
            self.close()
            raise ConnectError(f"cannot connect to {host}:{port}: {_lib.status_text(status)}",
                               status)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Disconnects and frees the client; polls in other threads end (batches() loops
        stop). Waits for calls in flight, at most a chunk each."""
        self._handle.close()

    def _call(self, function, what, *args):
        return _check(self._handle.call(function, *args), what)

    # ---- events ------------------------------------------------------------------------

    def _take_event(self, timeout):
        event = _lib.Event(size=ctypes.sizeof(_lib.Event))
        got = _wait(self._handle, _lib.lib.orvq_next_event, [ctypes.byref(event)], timeout)
        if not _check(got, "next event"):
            return None
        code = event.exchange_code & 0xFF  # a C char, signed or not
        # A kind a newer library adds comes as its number.
        kind = EventKind._value2member_map_.get(event.kind, event.kind)
        return Event(kind, chr(code) if code else "", event.value,
                     event.text.decode("utf-8", "surrogateescape"), event.time_ns)

    def next_event(self, timeout=0.0):
        """The oldest event not taken yet, or None when none comes within `timeout` seconds
        (None: wait without end)."""
        if self._pending:
            return self._pending.popleft()
        return self._take_event(timeout)

    def events(self, timeout=0.0):
        """Iterates over the events until none comes within `timeout` seconds."""
        while (event := self.next_event(timeout)) is not None:
            yield event

    def _wait_event(self, match, deadline, what):
        while True:
            event = self._take_event(max(0.0, deadline - time.monotonic()))
            if event is None:
                raise TimeoutError(f"no {what} within the time-out")
            if match(event):
                return event
            self._pending.append(event)

    # ---- session -------------------------------------------------------------------------

    def login(self, user, password, timeout=10.0):
        """Logs in and waits for the answer (the library answers once it has the symbol list):
        LoginRefused with the server's reason, TimeoutError when none comes."""
        self._check_session("login")
        self._call(_lib.lib.orvq_login, "login", user.encode(), password.encode())
        reply = self._wait_event(lambda e: e.kind == EventKind.LOGIN_REPLY,
                                 time.monotonic() + timeout, "login reply")
        if not reply.value:
            raise LoginRefused(reply.text)

    def symbols(self, timeout=10.0):
        """The server's symbol list as [(exchange_code, symbol), ...]."""
        self._check_session("symbols")
        self._call(_lib.lib.orvq_query_symbols, "query symbols")
        deadline, listed = time.monotonic() + timeout, []
        while not (entry := self._wait_event(lambda e: e.kind == EventKind.SYMBOL, deadline,
                                             "symbol list")).value:
            listed.append((entry.exchange_code, entry.text))
        self._listed = {symbol: code for code, symbol in listed}
        return listed

    def subscribe(self, symbols, timeout=10.0):
        """Registers symbols of the server's list (one name or several) and waits for the
        replies: UnknownSymbol for a name not listed (nothing is registered then),
        RegisterRefused for what the server refused. A symbol subscribed already is left as it
        is. The library registers them again by itself after a reconnect."""
        self._change(symbols, timeout, _lib.lib.orvq_register, EventKind.REGISTER_REPLY, True)

    def unsubscribe(self, symbols, timeout=10.0):
        self._change(symbols, timeout, _lib.lib.orvq_unregister, EventKind.UNREGISTER_REPLY,
                     False)

    def _change(self, symbols, timeout, function, reply_kind, subscribe):
        symbols = [symbols] if isinstance(symbols, str) else list(symbols)
        if self._listed is None:
            self.symbols(timeout)
        self._check_session(reply_kind.name.lower())
        unknown = [s for s in symbols if s not in self._listed]
        if unknown:
            raise UnknownSymbol(unknown)
        symbols = {s for s in symbols if (s in self._subscribed) != subscribe}
        for symbol in symbols:
            self._call(function, reply_kind.name.lower(), self._listed[symbol].encode("latin-1"),
                       symbol.encode("utf-8", "surrogateescape"))
        waiting, refused, deadline = set(symbols), [], time.monotonic() + timeout
        while waiting:
            reply = self._wait_event(lambda e: e.kind == reply_kind and e.text in waiting,
                                     deadline, reply_kind.name.lower().replace("_", " "))
            waiting.discard(reply.text)
            if not reply.value:
                refused.append(reply.text)
            elif subscribe:
                self._subscribed.add(reply.text)
            else:
                self._subscribed.discard(reply.text)
        if refused:
            raise RegisterRefused(refused)

    def stats(self):
        stats = _lib.Stats(size=ctypes.sizeof(_lib.Stats))
        self._call(_lib.lib.orvq_get_stats, "stats", ctypes.byref(stats))
        return Stats(*(getattr(stats, name) for name in Stats._fields[:-1]),
                     bool(stats.session_ended))

    def _over_and_taken(self):
        stats = self.stats()
        return stats.session_ended and stats.queue_depth == 0

    def _check_session(self, what):
        if self.stats().session_ended:
            raise SessionEnded(f"{what}: the session is over; events() tells why")

    # ---- quotes --------------------------------------------------------------------------

    def poll(self, max=4096, timeout=0.0, with_times=False):
        """Up to `max` quotes, oldest first, as an array of QUOTE_DTYPE (RECORD_DTYPE with
        with_times: each with its receive time and exchange code, as read_capture gives them).
        Waits up to `timeout` seconds (None: without end) for the first; returns at once when
        quotes are queued, and an empty array when none came. SessionEnded once the session is
        over and every quote has been taken."""
        quotes = np.empty(max, QUOTE_DTYPE)
        args = [quotes.ctypes.data, None, None, max]
        if with_times:
            codes, times = np.empty(max, np.uint8), np.empty(max, np.int64)
            args[1:3] = codes.ctypes.data, times.ctypes.data
        count = _check(_wait(self._handle, _lib.lib.orvq_poll_quotes, args, timeout,
                             self._over_and_taken), "poll")
        if count == 0 and self._over_and_taken():
            raise SessionEnded("poll: the session is over and every quote was taken; "
                               "events() tells why")
        if with_times:
            return _records(quotes[:count], codes[:count], times[:count])
        if count == max:
            return quotes
        # Copied out as bytes (NumPy copies a structured array field by field, far slower),
        # so that a kept batch holds no more than its quotes.
        kept = np.empty(count, QUOTE_DTYPE)
        kept.view(np.uint8)[:] = quotes.view(np.uint8)[:count * QUOTE_DTYPE.itemsize]
        return kept

    def batches(self, max=4096, timeout=1.0, with_times=False):
        """Iterates over batches of quotes as poll() returns them: an empty one when nothing
        came within `timeout` seconds (None: only non-empty ones). Ends when the client is
        closed; raises SessionEnded when the session is over (the library does not reconnect)
        after the last quote; Ctrl-C ends it within a chunk."""
        while True:
            try:
                batch = self.poll(max, timeout, with_times)
            except ClientClosed:
                return
            if len(batch) or timeout is not None:
                yield batch


def _records(quotes, codes, times):
    records = np.empty(len(quotes), RECORD_DTYPE)
    raw = records.view(np.uint8).reshape(len(quotes), RECORD_DTYPE.itemsize)
    raw[:, 9:] = quotes.view(np.uint8).reshape(len(quotes), QUOTE_DTYPE.itemsize)
    records["ReceiveTimeNs"] = times
    records["ExchangeCode"] = codes.view("S1")
    return records
