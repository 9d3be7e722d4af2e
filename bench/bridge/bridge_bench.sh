#!/usr/bin/env bash
# quote_bridge's benchmark, a part of scripts/bench.sh: starts a Redis of its own (127.0.0.1, a
# free port, no persistence), runs bridge_bench against it, and measures the same Redis with its
# own benchmark tool on the bridge's entry (XADD of a 345-byte record and three short fields,
# MAXLEN ~ 10000, pipelines of 1024): the server's ceiling on this machine, beside the bridge.
# Prints "skipped" where redis-server or the bridge is not there (no hiredis).
#
#   bench/bridge/bridge_bench.sh BUILD_DIR [--smoke]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
shift
. "$root/scripts/lib/redis.sh"

if ! have_redis || ! command -v redis-benchmark >/dev/null; then
    echo "skipped: redis-server, redis-cli or redis-benchmark is not installed (Debian: redis-server, redis-tools)"
    exit 0
fi
if ! cmake --build "$build" --target bridge_bench >/dev/null 2>&1; then
    echo "skipped: no bridge_bench in $build (hiredis not found: Debian libhiredis-dev)"
    exit 0
fi
work=$(mktemp -d)
trap 'stop_redis; rm -rf "$work"' EXIT
start_redis "$work"

"$build/bin/bridge_bench" --redis-port "$redis_port" "$@" 2>&1 | grep -v '^\[QuoteClient\]'
rc=${PIPESTATUS[0]}

requests=$([ "${1:-}" = --smoke ] && echo 20000 || echo 400000)
record=$(head -c 345 /dev/zero | tr '\0' 'q')
ceiling=$(redis-benchmark -p "$redis_port" -P 1024 -n "$requests" -q \
    XADD bench:ceiling MAXLEN '~' 10000 '*' quote "$record" exchange S symbol cu2506 \
    recv_ns 1700000000000000000 | tr '\r' '\n' | sed -nE 's/.*: ([0-9.]+) requests per second.*/\1/p' | tail -n 1)
printf '| %-64s | %12.0f |\n' "Redis's own benchmark, the same XADD: entries/s (its ceiling)" "${ceiling:-0}"
exit "$rc"
