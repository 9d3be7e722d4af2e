#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), then builds and tests every preset:
# dev, windows (under wine64), asan and tsan. Exits non-zero when anything fails.
# Usage: scripts/test.sh [preset ...]
set -uo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(dev windows asan tsan)

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in cmake ninja-build g++ libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64-posix wine64; do
    have_pkg "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "== installing: ${need[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages and not root: ${need[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" || exit 1
fi

jobs=$(nproc 2>/dev/null || echo 2)
declare -A result
status=0
for preset in "${presets[@]}"; do
    echo "== $preset: configure and build"
    log="build/$preset-test.log"
    mkdir -p build
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j "$jobs"; then
        result[$preset]="build FAILED"
        status=1
        continue
    fi
    echo "== $preset: test"
    if ctest --preset "$preset" 2>&1 | tee "$log"; then
        result[$preset]="passed: $(grep -E 'tests passed' "$log" | tail -n 1)"
    else
        result[$preset]="FAILED: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)"
        status=1
    fi
done

echo
echo "== summary"
for preset in "${presets[@]}"; do
    printf '%-8s %s\n' "$preset" "${result[$preset]:-not run}"
done
exit $status
