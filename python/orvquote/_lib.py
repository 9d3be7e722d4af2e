"""Finds and loads the quote library, declares every C function it uses, and checks at import
that the library speaks the interface and the record layout this package was written for.

Where the library comes from, first match wins:
1. ORVQUOTE_LIBRARY, the path of another build's liborvquote.so.1 or orvquote.dll;
2. the copy a wheel bundles in orvquote/_native/, loaded by its absolute path (on Windows the
   DLL needs system DLLs only, so no search path is involved);
3. the system's library by its soname, as the Debian package python3-orvquote expects it.

ctypes releases the interpreter lock around every call, so a call that blocks in the library
never holds up other Python threads.
"""

import ctypes
import os
import sys

from ._records import QUOTE_DTYPE

try:
    from ._version import __version__ as PACKAGE_VERSION  # written when the package is built
except ImportError:  # a source tree: as new as the library built from it
    PACKAGE_VERSION = None

ENV_VAR = "ORVQUOTE_LIBRARY"
# The interface number this package was written against; a library's only ever grows.
ABI_VERSION = 2
FILE_NAME = "orvquote.dll" if sys.platform == "win32" else "liborvquote.so.1"

EVENT_TEXT_SIZE = 1024


class Event(ctypes.Structure):
    """orvq_event: natural alignment, as the C compiler lays it out."""
    _fields_ = [("size", ctypes.c_uint32), ("kind", ctypes.c_int32),
                ("exchange_code", ctypes.c_int32), ("value", ctypes.c_int32),
                ("time_ns", ctypes.c_int64), ("length", ctypes.c_int32),
                ("text", ctypes.c_char * EVENT_TEXT_SIZE)]


class Stats(ctypes.Structure):
    """orvq_stats."""
    _fields_ = [("size", ctypes.c_uint32), ("session_ended", ctypes.c_uint32),
                ("quotes_received", ctypes.c_uint64), ("quotes_dropped", ctypes.c_uint64),
                ("reconnects", ctypes.c_uint64), ("queue_depth", ctypes.c_uint64),
                ("events_dropped", ctypes.c_uint64)]


_int, _ptr, _text = ctypes.c_int, ctypes.c_void_p, ctypes.c_char_p

# name: (restype, argtypes), as api/orv_quote_c.h declares them. orvq_client* is a void*; the
# quote, code and time arrays are passed as addresses of NumPy buffers.
PROTOTYPES = {
    "orvq_version": (_text, []),
    "orvq_abi_version": (_int, []),
    "orvq_quote_size": (_int, []),
    "orvq_status_text": (_text, [_int]),
    "orvq_create": (_int, [_ptr, _ptr, ctypes.c_int32, ctypes.POINTER(_ptr)]),
    "orvq_destroy": (_int, [_ptr]),
    "orvq_connect": (_int, [_ptr, _text, _int]),
    "orvq_login": (_int, [_ptr, _text, _text]),
    "orvq_register": (_int, [_ptr, ctypes.c_char, _text]),
    "orvq_unregister": (_int, [_ptr, ctypes.c_char, _text]),
    "orvq_query_symbols": (_int, [_ptr]),
    "orvq_disconnect": (_int, [_ptr]),
    "orvq_poll_quotes": (_int, [_ptr, _ptr, _ptr, _ptr, _int, _int]),
    "orvq_next_event": (_int, [_ptr, ctypes.POINTER(Event), _int]),
    "orvq_get_stats": (_int, [_ptr, ctypes.POINTER(Stats)]),
}


def library_path():
    """The path or name the library is loaded from, and where that choice came from."""
    override = os.environ.get(ENV_VAR)
    if override:
        return os.path.abspath(override), f"{ENV_VAR}={override}"
    bundled = os.path.join(os.path.dirname(os.path.abspath(__file__)), "_native", FILE_NAME)
    if os.path.isfile(bundled):
        return bundled, "bundled with the package"
    return FILE_NAME, "the system's library"


def _load():
    path, origin = library_path()
    try:
        lib = ctypes.CDLL(path)
    except OSError as e:
        raise ImportError(
            f"orvquote: cannot load the quote library {path} ({origin}): {e}. Install the "
            f"wheel, which bundles it, or the orvquote Debian package, or set {ENV_VAR} to a "
            f"{FILE_NAME} of version 1.2.0 or newer") from None
    for name, (restype, argtypes) in PROTOTYPES.items():
        try:
            function = getattr(lib, name)
        except AttributeError:
            raise ImportError(f"orvquote: {path} ({origin}) has no C interface ({name} is "
                              f"missing): it is older than 1.1.0") from None
        function.restype, function.argtypes = restype, argtypes
    abi, size = lib.orvq_abi_version(), lib.orvq_quote_size()
    version = lib.orvq_version().decode()
    if abi < ABI_VERSION:
        raise ImportError(f"orvquote: {path} ({origin}, version {version}) has C interface "
                          f"{abi}; this package needs {ABI_VERSION} or newer")
    if PACKAGE_VERSION and version.split(".")[0] != PACKAGE_VERSION.split(".")[0]:
        raise ImportError(f"orvquote: {path} ({origin}) is version {version}; this package "
                          f"({PACKAGE_VERSION}) needs a library of version "
                          f"{PACKAGE_VERSION.split('.')[0]}.x")
    if size != QUOTE_DTYPE.itemsize:
        raise ImportError(f"orvquote: {path} ({origin}, version {version}) has {size}-byte "
                          f"quotes; this package reads {QUOTE_DTYPE.itemsize}-byte quotes")
    return lib, path, version


lib, path, version = _load()


def status_text(status):
    return lib.orvq_status_text(status).decode(errors="replace")
