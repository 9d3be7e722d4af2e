#!/usr/bin/env bash
# Builds the Python packages into build/packages from the package presets' libraries (which
# scripts/package.sh builds first, and calls this) and checks them:
#   orvquote-<version>-py3-none-linux_x86_64.manylinux_<glibc>_x86_64.whl  with liborvquote.so.1
#       inside; its tags say Linux, and glibc as new as on the machine it was built on
#   orvquote-<version>-py3-none-win_amd64.whl                with orvquote.dll inside
#   python3-orvquote_<version>_all.deb                       the package alone; it depends on
#       the library's package (orvquote) and on python3-numpy
# The checks: each holds what it must (the wheels' RECORD hashes too); the Windows wheel's DLL
# imports system DLLs only; the Linux wheel installs into a fresh virtual environment and
# imports from elsewhere with its own library; as root, both .debs install with apt-get, the
# package imports with the system library, and removing them leaves nothing behind.
# Usage: scripts/package_python.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/lib/packages.sh
. scripts/lib/python.sh
ensure_packages dpkg-dev binutils-mingw-w64-x86-64 "${PYTHON_PACKAGES[@]}"

out=$root/build/packages
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "package_python: $*" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package-linux/CMakeCache.txt 2>/dev/null)
so=$(realpath build/package-linux/lib/liborvquote.so.1 2>/dev/null) || true
dll=build/package-windows/bin/orvquote.dll
[ -n "$version" ] && [ -f "$so" ] && [ -f "$dll" ] || fail "build the package presets first (scripts/package.sh)"

echo "== Python wheels"
rm -f "$out"/orvquote-*.whl "$out"/python3-orvquote_*.deb
glibc=$(getconf GNU_LIBC_VERSION | awk '{ print $2 }')
echo "built on glibc $glibc; the library needs $(objdump -T "$so" | grep -oE 'GLIBC(XX)?_[0-9.]+' |
    sort -uV | awk -F_ '{ top[$1] = $0 } END { print top["GLIBC"], top["GLIBCXX"] }')"
linux_wheel=$("$PYTHON" python/build_wheel.py --version "$version" --library "$so" \
    --platform "linux_$(uname -m).manylinux_${glibc/./_}_$(uname -m)" --out "$out")
windows_wheel=$("$PYTHON" python/build_wheel.py --version "$version" --library "$dll" \
    --platform win_amd64 --out "$out")

# check_wheel WHEEL NATIVE: the modules, the library and the metadata are there, and every
# RECORD line's hash and size are the file's.
check_wheel() {
    "$PYTHON" - "$@" <<'EOF' || fail "$(basename "$1") is not as it should be"
import base64, hashlib, sys, zipfile
wheel, native = sys.argv[1:]
z = zipfile.ZipFile(wheel)
names = set(z.namelist())
info = next(n.split("/")[0] for n in names if n.endswith(".dist-info/WHEEL"))
need = {f"orvquote/{m}.py" for m in ("__init__", "__main__", "_lib", "_records", "_version",
                                     "capture", "client")}
need |= {f"orvquote/_native/{native}", f"{info}/METADATA", f"{info}/RECORD"}
assert need <= names, f"missing: {sorted(need - names)}"
for line in z.read(f"{info}/RECORD").decode().split():
    name, digest, size = line.rsplit(",", 2)
    if digest:
        data = z.read(name)
        mine = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        assert digest == "sha256=" + mine and int(size) == len(data), f"RECORD: {name}"
tags = [t.split()[0] for t in z.read(f"{info}/WHEEL").decode().split("Tag: ")[1:]]
print(f"{wheel.split('/')[-1]}: {len(names)} files, tags {' '.join(tags)}")
EOF
}
check_wheel "$linux_wheel" liborvquote.so.1
check_wheel "$windows_wheel" orvquote.dll
(cd "$work" && "$PYTHON" -m zipfile -e "$windows_wheel" win)
imports=$(x86_64-w64-mingw32-objdump -p "$work/win/orvquote/_native/orvquote.dll" |
    sed -n 's/^\s*DLL Name: //p' | sort -f | tr '\n' ' ')
echo "the Windows wheel's orvquote.dll imports: $imports"
[ "$imports" = "KERNEL32.dll msvcrt.dll WS2_32.dll " ] || fail "orvquote.dll needs more than system DLLs"

echo "== the Linux wheel in a fresh virtual environment"
python_venv "$work/venv" "$linux_wheel" || fail "the wheel does not install"
said=$(cd "$work" && env -u ORVQUOTE_LIBRARY "$work/venv/bin/python" -c \
    'import orvquote; print(orvquote.__version__, orvquote.library_version, orvquote.library_path)')
echo "imported: $said"
[[ "$said" == "$version $version $work/venv/lib/"*"/site-packages/orvquote/_native/liborvquote.so.1" ]] ||
    fail "the installed wheel says '$said'"

echo "== the Debian package"
deb=$out/python3-orvquote_${version}_all.deb
stage=$work/deb
site=$stage/usr/lib/python3/dist-packages/orvquote
mkdir -p "$site" "$stage/DEBIAN"
cp python/orvquote/*.py "$site/"
echo "__version__ = \"$version\"" >"$site/_version.py"
cat >"$stage/DEBIAN/control" <<EOF
Package: python3-orvquote
Version: $version
Architecture: all
Maintainer: orvquote developers <orvquote@localhost>
Section: python
Priority: optional
Depends: python3 (>= 3.9), python3-numpy, orvquote (>= $version), orvquote (<< $((${version%%.*} + 1))~)
Recommends: python3-pandas
Description: Market-depth quotes as NumPy batches, over the orvquote library
 The orvquote Python package (ctypes over the library's C interface, which the
 orvquote package installs): a quote client whose quotes arrive as NumPy arrays,
 and quote_recorder captures read as arrays or pandas data frames.
EOF
# Compiled modules are made on install and removed on removal, as Debian's Python packages do.
printf '#!/bin/sh\nset -e\nif command -v py3compile >/dev/null 2>&1; then py3compile -p python3-orvquote; fi\n' \
    >"$stage/DEBIAN/postinst"
printf '#!/bin/sh\nset -e\nif command -v py3clean >/dev/null 2>&1; then py3clean -p python3-orvquote; else rm -rf /usr/lib/python3/dist-packages/orvquote/__pycache__; fi\n' \
    >"$stage/DEBIAN/prerm"
chmod 755 "$stage/DEBIAN/postinst" "$stage/DEBIAN/prerm"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -c '\.py$' | xargs echo "$(basename "$deb"): Python files:"
dpkg-deb -f "$deb" Depends

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing the .debs needs root"
elif dpkg-query -W -f='${Status}' orvquote python3-orvquote 2>/dev/null | grep -q 'ok installed'; then
    echo "skipped: an orvquote package is installed already; it is left alone"
else
    exec 9>/run/lock/orvquote-deb-check.lock  # the lock scripts/package.sh takes for its check
    flock -w 600 9 || fail "waiting for another .deb check"
    apt() {
        DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@" \
            >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get $*"; }
    }
    apt install "$out/orvquote_${version}_amd64.deb" "$deb"
    dpkg -L python3-orvquote >"$work/installed.txt"
    said=$(cd /tmp && env -u ORVQUOTE_LIBRARY "$PYTHON" -c \
        'import orvquote; print(orvquote.__version__, orvquote.library_path)' 2>&1) || true
    apt remove --purge python3-orvquote orvquote
    echo "installed; imported: $said"
    [ "$said" = "$version liborvquote.so.1" ] || fail "the installed package says '$said'"
    # Its own files and folders, the compiled modules' too (package.sh checks the library's).
    left=$(grep orvquote "$work/installed.txt" | while read -r path; do
        [ ! -e "$path" ] || echo "$path"
    done)
    [ -z "$left" ] || fail "left behind after removal: $left"
    echo "removed; nothing of them is left"
    flock -u 9
fi
echo "== Python packages: $(basename "$linux_wheel") $(basename "$windows_wheel") $(basename "$deb")"
