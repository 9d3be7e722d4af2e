#!/usr/bin/env bash
# The Python package's tests as a user meets the package: builds a wheel of the current sources
# around the dev build's library, installs it into a fresh virtual environment and runs
# python/tests with pytest from another folder, against the dev build's oqs_sim,
# quote_recorder and quote_bridge (the examples included, read_stream.py with a redis-server
# of its own). About half a minute. Exits non-zero on a failure.
# Usage: scripts/test_python.sh [pytest options]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/lib/packages.sh
. scripts/lib/python.sh
# Redis, hiredis and python3-redis: read_stream.py's test, behind quote_bridge.
ensure_packages cmake ninja-build g++ "${PYTHON_PACKAGES[@]}" libhiredis-dev redis-server \
    python3-redis

cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc 2>/dev/null || echo 2)" \
    --target orvquote oqs_sim quote_recorder quote_bridge >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/dev/CMakeCache.txt)
wheel=$("$PYTHON" python/build_wheel.py --version "$version" --platform linux_x86_64 \
    --library "$(realpath build/dev/lib/liborvquote.so.1)" --out "$work")
python_venv "$work/venv" "$wheel"
cd "$work"
unset ORVQUOTE_LIBRARY
where=$("$work/venv/bin/python" -c 'import orvquote; print(orvquote.library_path)')
case $where in
    "$work/venv/"*) echo "testing $(basename "$wheel") as installed: $where" ;;
    *) echo "test_python: the package comes from $where, not from the wheel" >&2; exit 1 ;;
esac
ORVQUOTE_TEST_BIN=$root/build/dev/bin "$work/venv/bin/python" -m pytest -p no:cacheprovider \
    -rs "$@" "$root/python/tests"
