"""Captures written by quote_recorder, as NumPy arrays; quotes as pandas DataFrames.

The capture file (docs/recording.md, "The capture file"): an 88-byte header, then one 354-byte
record per quote in arrival order, which RECORD_DTYPE reads in place.
"""

import os
import struct
import warnings

import numpy as np

from ._records import QUOTE_DTYPE, RECORD_DTYPE

CAPTURE_MAGIC = b"\x89OQCAP\r\n"
CAPTURE_VERSION = 1
CAPTURE_HEADER_SIZE = 88


class CaptureError(ValueError):
    """A file that is not a capture this package reads; the message names the file."""


def _check_header(path, header):
    if len(header) < len(CAPTURE_MAGIC) or not header.startswith(CAPTURE_MAGIC):
        raise CaptureError(f"{path}: not a quote capture")
    if len(header) < 10:
        raise CaptureError(f"{path}: the capture header is cut short")
    version = struct.unpack_from("<H", header, 8)[0]
    if version > CAPTURE_VERSION:
        raise CaptureError(f"{path}: capture format version {version} is newer than this "
                           f"package reads ({CAPTURE_VERSION}); use a newer orvquote")
    if len(header) < CAPTURE_HEADER_SIZE:
        raise CaptureError(f"{path}: the capture header is cut short")
    header_size, record_size = struct.unpack_from("<HH", header, 10)
    if version == 0 or header_size != CAPTURE_HEADER_SIZE or record_size != RECORD_DTYPE.itemsize:
        raise CaptureError(f"{path}: the capture header is damaged")


def read_capture(path, mmap=False):
    """Every whole record of a capture as an array of RECORD_DTYPE: ReceiveTimeNs (nanoseconds
    since 1970 UTC), ExchangeCode, then the quote's fields. mmap=True maps the file instead of
    reading it, for captures larger than memory. A record cut short at the end (a recorder
    killed while writing) is left out with a warning, as quote_recorder does."""
    with open(path, "rb") as f:
        _check_header(path, f.read(CAPTURE_HEADER_SIZE))
        size = os.fstat(f.fileno()).st_size - CAPTURE_HEADER_SIZE
        count, rest = divmod(size, RECORD_DTYPE.itemsize)
        if rest:
            warnings.warn(f"{path} ends inside a record (the recorder stopped while writing "
                          f"it); read up to the last whole record", stacklevel=2)
        if mmap:
            if count == 0:
                return np.empty(0, RECORD_DTYPE)
            return np.memmap(path, RECORD_DTYPE, "r", CAPTURE_HEADER_SIZE, (count,))
        return np.fromfile(f, RECORD_DTYPE, count)


def _texts(column):
    """Fixed-width text fields as str, each up to its first NUL."""
    return [t.split(b"\0", 1)[0].decode("utf-8", "replace") for t in column.tolist()]


def to_dataframe(quotes):
    """A pandas DataFrame of a batch (QUOTE_DTYPE) or of records (RECORD_DTYPE): one row per
    quote, texts decoded, the depth as Depth0Value, Depth0Count ... Depth9Count (0 to 4 bids,
    5 to 9 asks), and Time, the quote's own time: its trading day with TimeText and TimeValue's
    milliseconds (a night session's quotes carry the next trading day). Records add
    ReceiveTimeUtc, their receive time. pandas is needed here only."""
    import pandas as pd

    quotes = np.asarray(quotes)
    columns = {}
    if "ReceiveTimeNs" in quotes.dtype.names:
        columns["ReceiveTimeUtc"] = pd.to_datetime(quotes["ReceiveTimeNs"], unit="ns")
        columns["ReceiveTimeNs"] = quotes["ReceiveTimeNs"]
        columns["ExchangeCode"] = _texts(quotes["ExchangeCode"])
    for name in QUOTE_DTYPE.names:
        if name == "DepthLevels":
            for level in range(10):
                columns[f"Depth{level}Value"] = quotes["DepthLevels"]["Value"][:, level]
                columns[f"Depth{level}Count"] = quotes["DepthLevels"]["Count"][:, level]
        elif QUOTE_DTYPE.fields[name][0].kind == "S":
            columns[name] = _texts(quotes[name])
        else:
            columns[name] = quotes[name]
    frame = pd.DataFrame(columns)
    stamp = pd.to_datetime(frame["TradingDay"] + " " + frame["TimeText"],
                           format="%Y%m%d %H:%M:%S", errors="coerce")
    frame["Time"] = stamp + pd.to_timedelta(frame["TimeValue"], unit="ms")
    return frame
