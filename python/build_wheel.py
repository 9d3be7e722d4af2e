"""Builds a wheel of the orvquote package with the quote library inside it, from nothing but
the standard library: a wheel is a zip with the package and a .dist-info folder (PEP 427), and
this package has nothing to compile.

    build_wheel.py --version 1.2.0 --library PATH --platform linux_x86_64.manylinux_2_36_x86_64 --out DIR

The library is stored as orvquote/_native/liborvquote.so.1 (orvquote.dll for a win platform),
where the package loads it by absolute path; orvquote/_version.py carries the version. Several
platform tags are given with dots between them, as in the wheel's file name. Entries
are sorted and dated 1980-01-01, so the same inputs give the same bytes. Prints the wheel's path.
"""

import argparse
import base64
import hashlib
import os
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SUMMARY = "Market-depth quotes from a quote server as NumPy batches, over the orvquote library"


def metadata(version):
    return "\n".join([
        "Metadata-Version: 2.1", "Name: orvquote", f"Version: {version}", f"Summary: {SUMMARY}",
        "Requires-Python: >=3.9", "Requires-Dist: numpy", "Provides-Extra: pandas",
        'Requires-Dist: pandas; extra == "pandas"', "", ""])


def package_files(version, library, platform):
    """(name in the wheel, bytes) of the package, its version module and the library."""
    files = []
    source = os.path.join(HERE, "orvquote")
    for name in sorted(os.listdir(source)):
        if name.endswith(".py") and name != "_version.py":
            with open(os.path.join(source, name), "rb") as f:
                files.append((f"orvquote/{name}", f.read()))
    files.append(("orvquote/_version.py", f'__version__ = "{version}"\n'.encode()))
    native = "orvquote.dll" if platform.startswith("win") else "liborvquote.so.1"
    with open(library, "rb") as f:
        files.append((f"orvquote/_native/{native}", f.read()))
    return files


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def build(version, library, platform, out):
    tag = f"py3-none-{platform}"
    tags = "".join(f"Tag: py3-none-{p}\n" for p in platform.split("."))
    info = f"orvquote-{version}.dist-info"
    files = package_files(version, library, platform)
    files.append((f"{info}/METADATA", metadata(version).encode()))
    files.append((f"{info}/WHEEL", (f"Wheel-Version: 1.0\nGenerator: orvquote build_wheel.py\n"
                                    f"Root-Is-Purelib: false\n{tags}\n").encode()))
    files.append((f"{info}/top_level.txt", b"orvquote\n"))
    record = "\n".join([record_line(n, d) for n, d in files] + [f"{info}/RECORD,,", ""])
    files.append((f"{info}/RECORD", record.encode()))
    os.makedirs(out, exist_ok=True)
    path = os.path.join(out, f"orvquote-{version}-{tag}.whl")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files:
            entry = zipfile.ZipInfo(name, (1980, 1, 1, 0, 0, 0))
            entry.external_attr = (0o755 if "/_native/" in name else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(entry, data)
    return path


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--library", required=True, help="liborvquote.so.1 or orvquote.dll")
    parser.add_argument("--platform", required=True, help="the wheel's platform tags")
    parser.add_argument("--out", required=True, help="folder for the wheel")
    o = parser.parse_args(argv)
    print(build(o.version, o.library, o.platform, o.out))


if __name__ == "__main__":
    main(sys.argv[1:])
