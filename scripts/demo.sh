#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds the release preset's demo, recorder and
# simulator, and runs quote_demo for 15 seconds against the simulator it starts in-process.
# Usage: scripts/demo.sh [quote_demo options]   (default: --seconds 15)
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/lib/packages.sh
ensure_packages cmake ninja-build g++

echo "== building quote_demo, quote_recorder and oqs_sim (release)"
cmake --preset release >/dev/null
cmake --build --preset release --target quote_demo quote_recorder oqs_sim

[ $# -gt 0 ] || set -- --seconds 15
echo "== running build/release/bin/quote_demo $*"
exec build/release/bin/quote_demo "$@"
