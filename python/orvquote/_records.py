"""The quote record and the capture record as NumPy dtypes, byte for byte the C layouts.

Every field sits at the offset the C header gives it, little-endian, with no padding, so a
buffer the library fills, or a capture file's bytes, are read in place without conversion.
"""

import numpy as np

# One depth level: a price and the quantity resting at it, 12 packed bytes.
DEPTH_DTYPE = np.dtype({"names": ["Value", "Count"], "formats": ["<f8", "<i4"],
                        "offsets": [0, 8], "itemsize": 12})


def _quote_fields(base):
    """(name, format, offset) of every field of the 345-byte quote, `base` bytes in."""
    fields = [("TradingDay", "S9", 0), ("Symbol", "S31", 9), ("ExchangeName", "S9", 40),
              ("ExchangeSymbol", "S31", 49)]
    fields += [(f"MarketValue{i}", "<f8", 80 + 8 * (i - 1)) for i in range(1, 8)]
    fields += [("MarketCount1", "<i4", 136)]
    fields += [(f"MarketValue{i}", "<f8", 140 + 8 * (i - 8)) for i in range(8, 16)]
    fields += [("TimeText", "S9", 204), ("TimeValue", "<i4", 213),
               ("DepthLevels", (DEPTH_DTYPE, (10,)), 217), ("MarketValue16", "<f8", 337)]
    return [(name, fmt, base + offset) for name, fmt, offset in fields]


def _dtype(fields, itemsize):
    names, formats, offsets = zip(*fields)
    return np.dtype({"names": list(names), "formats": list(formats), "offsets": list(offsets),
                     "itemsize": itemsize})


QUOTE_SIZE = 345

# One market-depth quote as the library delivers it (docs/quote-fields.md says what each
# field means). Texts are NUL-terminated within their width.
QUOTE_DTYPE = _dtype(_quote_fields(0), QUOTE_SIZE)

# One quote with its receive time (nanoseconds since 1970 UTC) and exchange code: the
# 354-byte record of a capture file, and what batches(with_times=True) yields.
RECORD_DTYPE = _dtype([("ReceiveTimeNs", "<i8", 0), ("ExchangeCode", "S1", 8)]
                      + _quote_fields(9), 9 + QUOTE_SIZE)
