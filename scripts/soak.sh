#!/usr/bin/env bash
# Builds the soak program with the dev preset and runs it for the given number of minutes:
# connect / login / register / quotes / disconnect cycles with a server-side drop and automatic
# reconnect every tenth cycle, failing when threads, descriptors or resident memory grow.
#
#   scripts/soak.sh MINUTES [BUILD_DIR]     e.g. scripts/soak.sh 2 (the CI run)
#
# BUILD_DIR defaults to the preset's build/dev.
set -euo pipefail

if [[ $# -lt 1 || ! "$1" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    echo "usage: $0 MINUTES [BUILD_DIR]" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build/dev}

cd "$root"
cmake --preset dev -B "$build" >/dev/null
cmake --build "$build" --target soak
exec "$build/bin/soak" "$1"
