#!/usr/bin/env bash
# Builds the soak program with the dev preset and runs it for the given number of minutes:
# connect / login / register / quotes / disconnect cycles with a server-side drop and automatic
# reconnect every tenth cycle, failing when threads, descriptors or resident memory grow.
#
#   scripts/soak.sh MINUTES [BUILD_DIR]     e.g. scripts/soak.sh 2 (the CI run)
#
# BUILD_DIR defaults to the preset's build/dev. Runs of up to ten minutes sample every 10
# cycles after 30 cycles of warm-up, longer ones every 100 after 100.
set -euo pipefail

if [[ $# -lt 1 || ! "$1" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    echo "usage: $0 MINUTES [BUILD_DIR]" >&2
    exit 2
fi
minutes=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build/dev}

cd "$root"
cmake --preset dev -B "$build" >/dev/null
cmake --build "$build" --target soak

if awk -v m="$minutes" 'BEGIN { exit !(m <= 10) }'; then
    sampling=(--sample-every 10 --warmup 30)
else
    sampling=(--sample-every 100 --warmup 100)
fi
exec "$build/bin/soak" --minutes "$minutes" "${sampling[@]}"
