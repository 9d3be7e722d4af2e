#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds the release preset's demo and simulator,
# and runs quote_demo for 15 seconds against the simulator it starts in-process.
# Usage: scripts/demo.sh [quote_demo options]   (default: --seconds 15)
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in cmake ninja-build g++; do
    have_pkg "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "== installing: ${need[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages and not root: ${need[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# The tests need GoogleTest's sources; the demo does not. Without them the tests are left out
# of this build (scripts/test.sh installs them and builds its own presets).
tests=ON
[ -f /usr/src/googletest/CMakeLists.txt ] || tests=OFF

echo "== building quote_demo and oqs_sim (release)"
cmake --preset release -DORVQUOTE_BUILD_TESTS=$tests >/dev/null
cmake --build --preset release --target quote_demo oqs_sim

[ $# -gt 0 ] || set -- --seconds 15
echo "== running build/release/bin/quote_demo $*"
exec build/release/bin/quote_demo "$@"
