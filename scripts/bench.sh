#!/usr/bin/env bash
# Builds the benchmarks with the release preset and prints one report: the micro benchmarks
# (each container timing next to its standard-library twin from the same run), the replay's
# sender against the flood sender, the Python package's batches() against the C++ sink during
# a flood (bench/python), and the end-to-end table (the library against a plain receive loop,
# same sender, same run; the C interface's pull mode against the C++ sink) with its targets,
# one line each, MET or MISSED with its figures.
#
#   scripts/bench.sh           full run, a few minutes
#   scripts/bench.sh --smoke   short run for CI; asserts nothing about speed (its targets block
#                              means nothing), fails only when something crashes or quotes go
#                              missing
#
# ORVQUOTE_BENCH_BUILD chooses the build folder (default: the preset's build/release).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVQUOTE_BENCH_BUILD:-$root/build/release}
smoke=0
[[ "${1:-}" == "--smoke" ]] && smoke=1

cd "$root"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target micro_bench e2e_bench replay_bench flood_peer
. scripts/lib/packages.sh
ensure_packages python3-numpy

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if ((smoke)); then
    min_time=0.01
    e2e_args=(--smoke)
else
    min_time=0.5
    e2e_args=()
fi

echo "== machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name: *//p' | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== micro benchmarks (CPU time per item; ratio = orvquote / std, below 1 is faster)"
"$build/bin/micro_bench" --benchmark_min_time="$min_time" \
    --benchmark_out="$out/micro.csv" --benchmark_out_format=csv >"$out/micro.log" 2>&1 || {
    cat "$out/micro.log"
    exit 1
}

# CSV columns: name,iterations,real_time,cpu_time,time_unit,bytes_per_second,items_per_second,...
awk -F, '
    /^"BM_/ {
        name = $1; gsub(/"/, "", name)
        ips[name] = $7; bps[name] = $6
    }
    function per(name) { return (name in ips && ips[name] > 0) ? 1e9 / ips[name] : 0 }
    function gbs(name) { return (name in bps && bps[name] > 0) ? bps[name] / 1e9 : 0 }
    function row(label, mine, theirs) {
        if (theirs > 0) printf "| %-48s | %10.1f | %10.1f | %6.2f |\n", label, mine, theirs, mine / theirs
        else            printf "| %-48s | %10.1f | %10s | %6s |\n", label, mine, "-", "-"
    }
    function bytes(label, name) {
        printf "| %-48s | %10.2f | %10s | %6s |\n", label " (GB/s)", gbs(name), "-", "-"
    }
    END {
        printf "| %-48s | %10s | %10s | %6s |\n", "benchmark, ns per item", "orvquote", "std", "ratio"
        printf "|%s|%s|%s|%s|\n", "--------------------------------------------------", "------------", "------------", "--------"
        row("md5_hex, 32-byte password", per("BM_md5_hex_32"), 0)
        n = split("100 10000", sizes, " ")
        for (i = 1; i <= n; i++) {
            k = sizes[i]
            row("map_str contains, " k " keys (std: string key)", per("BM_map_str_contains/" k), per("BM_unordered_map_contains/" k))
            row("map_str contains, " k " keys (std: from C text)", per("BM_map_str_contains/" k), per("BM_unordered_map_contains_cstr/" k))
            row("map_str insert, " k " keys", per("BM_map_str_insert/" k), per("BM_unordered_map_insert/" k))
            row("map_str iterate, " k " keys", per("BM_map_str_iterate/" k), per("BM_unordered_map_iterate/" k))
        }
        row("dispatch_msg, quote", per("BM_dispatch_quotes"), 0)
        bytes("dispatch_msg, quote", "BM_dispatch_quotes")
        row("dispatch_msg, quote with symbol translation", per("BM_dispatch_quotes_translated"), 0)
        row("stream_buffer, append+consume one quote", per("BM_stream_buffer_quote_cycle"), 0)
        bytes("stream_buffer, 8192-byte chunk cycle", "BM_stream_buffer_chunk_cycle")
        bytes("transport hop, 367-byte receives", "BM_transport_hop/367")
        bytes("transport hop, 8192-byte receives", "BM_transport_hop/8192")
    }' "$out/micro.csv"

echo
echo "== replay at full speed against the flood sender (one plain receiver for both)"
"$build/bin/replay_bench" "${e2e_args[@]}"

# The bridge's throughput and latency into a Redis of its own; "skipped" without redis-server.
echo
echo "== quote_bridge into a local Redis (bench/bridge/bridge_bench.sh)"
bench/bridge/bridge_bench.sh "$build" "${e2e_args[@]}"

echo
echo "== Python: batches() during a flood, against the C++ sink (same sender, same run)"
ORVQUOTE_LIBRARY=$build/lib/liborvquote.so.1 PYTHONPATH=$root/python /usr/bin/python3 \
    bench/python/batches_bench.py "$build/bin/flood_peer" "${e2e_args[@]}" | grep -v '^\[QuoteClient\]'

echo
echo "== end to end"
"$build/bin/e2e_bench" "${e2e_args[@]}" 2>&1 | grep -v '^\[QuoteClient\]'
exit "${PIPESTATUS[0]}"
