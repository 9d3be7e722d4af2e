#!/usr/bin/env bash
# Record, replay, record again: builds oqs_sim and quote_recorder with the dev preset and checks
#   1. a recording of the invented market replayed at full speed and recorded again gives the
#      same records, byte for byte and in the same order (receive times aside);
#   2. a recorder keeps recording across the server's drops, and the capture shows the gap;
#   3. a file that is not a capture, and a capture cut inside a record, get a clear message
#      and a non-zero exit.
# Every server runs on 127.0.0.1 with a free port. About half a minute.
#
#   scripts/roundtrip.sh [BUILD_DIR]   (default: the dev preset's build/dev, configured first;
#                                      a folder given is built as it is configured, asan say)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
cd "$root"
[ $# -gt 0 ] || cmake --preset dev >/dev/null
cmake --build "$build" --target oqs_sim quote_recorder >/dev/null
sim=$build/bin/oqs_sim
recorder=$build/bin/quote_recorder

work=$(mktemp -d)
server_pid=
server_log=

fail() {
    echo "roundtrip: FAILED: $*" >&2
    exit 1
}

# Ctrl-C for the server; it must end cleanly (under a sanitizer, without a report).
stop_server() {
    local pid=$server_pid rc=0
    server_pid=
    [ -n "$pid" ] || return 0
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid" || rc=$?
    [ "$rc" -eq 0 ] || fail "oqs_sim ended with status $rc: $(tail -n 20 "$server_log")"
}
trap '[ -z "$server_pid" ] || kill -INT "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT

# Starts oqs_sim with the given options on a free port; sets server_pid and port.
start_server() {
    server_log=$work/sim-$RANDOM.log
    : >"$server_log"
    "$sim" --port 0 "$@" 2>"$server_log" &
    server_pid=$!
    for _ in $(seq 100); do
        port=$(sed -nE 's/.*listening on 127\.0\.0\.1:([0-9]+).*/\1/p' "$server_log" || true)
        [ -n "$port" ] && return 0
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$server_log" >&2
    fail "oqs_sim $* did not start"
}

# The records of a capture without their receive times: one line of hex per record (the
# exchange code and the 345-byte quote; the header's 88 bytes and each time's 8 left out).
records() {
    od -An -v -tx1 -w354 -j88 "$1" | cut -c25-
}

echo "== 1. invented market -> capture -> replay at full speed -> capture"
start_server --rate 40
"$recorder" --server "127.0.0.1:$port" --all --seconds 4 --out "$work/first.oqcap" \
    --csv "$work/first.csv" >"$work/first.log" || fail "first recording: $(cat "$work/first.log")"
stop_server
quotes=$("$recorder" --print "$work/first.oqcap" | head -n 1 | cut -d' ' -f1)
[ "${quotes:-0}" -gt 100 ] || fail "the first capture holds only ${quotes:-no} quotes"
[ "$(wc -l <"$work/first.csv")" -eq $((quotes + 1)) ] || fail "CSV rows differ from the capture"

start_server --replay "$work/first.oqcap" --speed max
"$recorder" --server "127.0.0.1:$port" --all --seconds 6 --out "$work/second.oqcap" \
    >"$work/second.log" || fail "second recording: $(cat "$work/second.log")"
stop_server
records "$work/first.oqcap" >"$work/first.hex"
records "$work/second.oqcap" >"$work/second.hex"
if ! cmp -s "$work/first.hex" "$work/second.hex"; then
    echo "first capture: $(wc -l <"$work/first.hex") records, second: $(wc -l <"$work/second.hex")"
    diff "$work/first.hex" "$work/second.hex" | head -n 4
    fail "the replayed capture differs from the recorded one"
fi
echo "$quotes quotes recorded, replayed and recorded again: the same records"

echo "== 2. a server that drops every connection after 3 s"
start_server --rate 20 --drop-after 3
"$recorder" --server "127.0.0.1:$port" --all --seconds 10 --out "$work/drops.oqcap" \
    >"$work/drops.log" || fail "recording across drops: $(cat "$work/drops.log")"
stop_server
reconnects=$(sed -nE 's/^reconnects: ([0-9]+)$/\1/p' "$work/drops.log")
[ "${reconnects:-0}" -ge 1 ] || fail "no reconnect seen: $(cat "$work/drops.log")"
"$recorder" --print "$work/drops.oqcap" >"$work/drops.txt"
pause=$(sed -nE 's/^longest pause between quotes: ([0-9.]+) s.*/\1/p' "$work/drops.txt")
awk -v p="${pause:-0}" 'BEGIN { exit !(p >= 1.0) }' || fail "no gap in the capture: $(cat "$work/drops.txt")"
tail -n 1 "$work/drops.txt"
echo "$reconnects reconnects, $(head -n 1 "$work/drops.txt") recorded"

echo "== 3. bad input"
expect_refusal() {  # expected status, expected text, command...
    local status=$1 text=$2 rc=0
    shift 2
    "$@" >/dev/null 2>"$work/refusal.txt" || rc=$?
    [ "$rc" -eq "$status" ] && grep -q "$text" "$work/refusal.txt" ||
        fail "$* gave status $rc and: $(cat "$work/refusal.txt")"
}
expect_refusal 1 "not a quote capture" "$sim" --port 0 --replay "$work/first.csv"
expect_refusal 1 "not a quote capture" "$recorder" --print "$work/first.csv"
head -c $((88 + 354 * 3 + 100)) "$work/first.oqcap" >"$work/cut.oqcap"
expect_refusal 3 "ends inside a record" "$recorder" --print "$work/cut.oqcap"
head -c 88 "$work/first.oqcap" >"$work/empty.oqcap"
expect_refusal 1 "holds no quotes" "$sim" --port 0 --replay "$work/empty.oqcap"
echo "refused with a message: not a capture, a capture cut short, a capture without quotes"
echo "roundtrip: passed"
