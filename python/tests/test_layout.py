# The package's picture of the C interface against the header itself: record offsets from a C
# compiler, every declared function with matching argument and result types, and a clear error
# at import for a library that does not fit.
import ctypes
import os
import re
import shutil
import subprocess
import sys

import pytest

import orvquote
from orvquote import _lib
from conftest import REPO

HEADER = os.path.join(REPO, "api", "orv_quote_c.h")


def test_record_offsets_are_the_c_compilers(tmp_path):
    if not (shutil.which("cc") and os.path.exists(HEADER)):
        pytest.skip("skipped: needs cc and api/orv_quote_c.h")
    mine = {("orvq_quote", n): orvquote.QUOTE_DTYPE.fields[n][1] for n in orvquote.QUOTE_DTYPE.names}
    mine[("orvq_quote", "DepthLevels[9].Count")] = 217 + 9 * 12 + 8
    mine.update({(t, n): getattr(s, n).offset for t, s in (("orvq_event", _lib.Event),
                                                           ("orvq_stats", _lib.Stats))
                 for n, _ in s._fields_})
    sizes = [orvquote.QUOTE_DTYPE.itemsize, ctypes.sizeof(_lib.Event), ctypes.sizeof(_lib.Stats)]
    (tmp_path / "offsets.c").write_text(
        '#include <stdio.h>\n#include "orv_quote_c.h"\nint main(void) {'
        + "".join(f'printf("%zu\\n", offsetof({t}, {n}));' for t, n in mine)
        + 'printf("%zu %zu %zu\\n", sizeof(orvq_quote), sizeof(orvq_event), sizeof(orvq_stats));}')
    subprocess.run(["cc", "-std=c99", "-I", os.path.dirname(HEADER), str(tmp_path / "offsets.c"),
                    "-o", str(tmp_path / "offsets")], check=True)
    said = subprocess.run([str(tmp_path / "offsets")], capture_output=True, text=True).stdout
    assert said.split("\n") == [str(v) for v in mine.values()] + ["%d %d %d" % tuple(sizes), ""]


# Any other pointer is passed as an address (c_void_p).
C_TYPES = {"int": ctypes.c_int, "int32_t": ctypes.c_int32, "char": ctypes.c_char,
           "const char*": ctypes.c_char_p, "void": None,
           "orvq_client**": ctypes.POINTER(ctypes.c_void_p),
           "orvq_event*": ctypes.POINTER(_lib.Event), "orvq_stats*": ctypes.POINTER(_lib.Stats)}


def test_every_function_is_declared_as_the_header_says():
    if not os.path.exists(HEADER):
        pytest.skip("skipped: needs api/orv_quote_c.h")
    declared = re.findall(r"ORVQUOTE_API ([\w ]+\*?) ?(orvq_\w+)\(([^)]*)\);",
                          re.sub(r"\s+", " ", open(HEADER).read()))
    assert sorted(name for _, name, _ in declared) == sorted(_lib.PROTOTYPES)
    for result, name, parameters in declared:
        restype, argtypes = _lib.PROTOTYPES[name]
        types = [re.sub(r"\s*\w+$", "", p.strip()).replace(" *", "*")
                 for p in parameters.split(",") if p.strip() not in ("", "void")]
        assert restype == C_TYPES[result.strip()], name
        assert len(types) == len(argtypes), name
        for c, mine in zip(types, argtypes):
            expected = C_TYPES[c] if c in C_TYPES or "*" not in c else ctypes.c_void_p
            assert expected == mine, (name, c)


@pytest.mark.parametrize("library, complaint", [
    ("/nonexistent/liborvquote.so.1", "cannot load the quote library"),
    (next(line.split()[-1] for line in open("/proc/self/maps") if "/libc.so" in line),
     "has no C interface"),
])
def test_a_library_that_does_not_fit_is_a_clear_import_error(library, complaint, tmp_path):
    said = subprocess.run([sys.executable, "-c", "import orvquote"], cwd=tmp_path, text=True,
                          capture_output=True, env=dict(os.environ, ORVQUOTE_LIBRARY=library))
    assert said.returncode == 1 and complaint in said.stderr.splitlines()[-1], said.stderr
