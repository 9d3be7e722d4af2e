"""orvquote: market-depth quotes from a quote server, as NumPy batches.

    import orvquote
    with orvquote.Client("127.0.0.1", 7100) as client:
        client.login("demo", "demo")
        client.subscribe(["Au(T+D)", "cu2506"])
        for batch in client.batches(max=4096, timeout=1.0):
            print(batch["Symbol"], batch["MarketValue1"])

A pure-Python package over the quote library's C interface (ctypes), in pull mode: no Python
code runs on a library thread. See Client for the calls, QUOTE_DTYPE for the record.
"""

from . import _lib
from ._records import DEPTH_DTYPE, QUOTE_DTYPE, RECORD_DTYPE
from .capture import CaptureError, read_capture, to_dataframe
from .client import (ClientClosed, Client, ConnectError, Event, EventKind, LoginRefused,
                     OrvQuoteError, RegisterRefused, SessionEnded, Stats, UnknownSymbol)

__version__ = _lib.PACKAGE_VERSION or _lib.version
library_version = _lib.version  # the loaded library's
library_path = _lib.path  # where it was loaded from

__all__ = ["Client", "QUOTE_DTYPE", "RECORD_DTYPE", "DEPTH_DTYPE", "read_capture",
           "to_dataframe", "Event", "EventKind", "Stats", "OrvQuoteError", "ConnectError",
           "LoginRefused", "UnknownSymbol", "RegisterRefused", "ClientClosed", "SessionEnded",
           "CaptureError"]
