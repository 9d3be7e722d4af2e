#!/usr/bin/env bash
# quote_bridge against a real Redis, one CTest test per mode; each starts its own redis-server
# (127.0.0.1, a free port, a temporary folder, no persistence) and oqs_sim, and stops them.
#   capture    records the invented market with quote_recorder: the capture the others replay
#   roundtrip  the capture replayed at full speed through the bridge reads back from Redis
#              equal to the capture: per symbol the same records, byte for byte, in order
#   restart    Redis is killed in the middle and started again on the same port: the bridge
#              reconnects, says so in the events stream, and published + dropped = received
#   group      two consumers of one group share a symbol's stream, each entry acknowledged once
#   refusals   bad options, an unreachable Redis or quote server, a refused login, a Redis
#              password: a clear message and the documented exit status, never a hang
# Exits 77 (skipped) when redis-server is not installed (Debian: redis-server, redis-tools).
#
#   bridge_redis_test.sh MODE WORK_DIR BIN_DIR
set -euo pipefail
mode=$1
work_root=$2
bin=$3
. "$(dirname "$0")/../../scripts/lib/redis.sh"
. "$(dirname "$0")/../../scripts/lib/sim.sh"
capture=$work_root/bridge_capture.oqcap

fail() {
    echo "bridge $mode: FAILED: $*" >&2
    exit 1
}

if [ "$mode" != capture ] && ! have_redis; then
    echo "bridge $mode: skipped: redis-server or redis-cli is not installed (Debian: redis-server, redis-tools)"
    exit 77
fi

work=$(mktemp -d)
sim_pid=
bridge_pid=
cleanup() {
    for pid in "$bridge_pid" "$sim_pid"; do
        [ -z "$pid" ] || { kill -INT "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; } || true
    done
    kill_redis
    rm -rf "$work"
}
trap cleanup EXIT

# Starts oqs_sim with the given options on a free port; sets sim_pid and sim_port.
start_sim() {
    local log=$work/sim.log
    "$bin/oqs_sim" --port 0 "$@" 2>"$log" &
    sim_pid=$!
    sim_port=$(sim_port_of "$log" "$sim_pid") || fail "oqs_sim $* did not start: $(cat "$log")"
}

# Starts the bridge with the given options against the simulator and Redis, a status line
# every 0.1 s.
start_bridge() {
    "$bin/quote_bridge" --server "127.0.0.1:$sim_port" --redis "127.0.0.1:$redis_port" \
        --prefix t --status 0.1 "$@" >"$work/bridge.out" 2>"$work/bridge.err" &
    bridge_pid=$!
}

# Waits, with a bound, for a status line of the bridge that matches the extended regex $1.
wait_status() {
    for _ in $(seq 1200); do
        grep -qE "$1" "$work/bridge.out" && return 0
        kill -0 "$bridge_pid" 2>/dev/null || break
        sleep 0.05
    done
    fail "no status line matching '$1': $(tail -n 3 "$work/bridge.out") $(cat "$work/bridge.err")"
}

# Ctrl-C for the bridge, which must end with status 0 after its summary.
stop_bridge() {
    local rc=0
    kill -INT "$bridge_pid"
    wait "$bridge_pid" || rc=$?
    bridge_pid=
    [ "$rc" -eq 0 ] || fail "quote_bridge ended with status $rc: $(cat "$work/bridge.err")"
}

summary() {  # the number after "$1" in the bridge's summary
    sed -nE "s/^$1 ([0-9]+).*/\1/p" "$work/bridge.out"
}

quotes_in_capture() {
    "$bin/quote_recorder" --print "$capture" | head -n 1 | cut -d' ' -f1
}

# The events stream, one line per entry: its name, then its numbers as field=value.
events() {
    redis-cli -p "$redis_port" --raw XRANGE t:events - + | awk '
        /^[0-9]+-[0-9]+$/ { if (line != "") print line; line = ""; n = 0; next }
        n++ % 2 == 0 { key = $0; next }
        key == "event" { line = $0 (line == "" ? "" : " " line); next }
        key != "text" && key != "time_ns" { line = line (line == "" ? "" : " ") key "=" $0 }
        END { if (line != "") print line }'
}

# Publishes the whole capture, replayed at full speed, and stops the bridge.
publish_capture() {
    local quotes
    quotes=$(quotes_in_capture)
    start_redis "$work/redis"
    start_sim --replay "$capture" --speed max
    start_bridge --all
    wait_status " $quotes received  $quotes published "
    stop_bridge
    echo "$quotes quotes published"
}

case "$mode" in
capture)
    start_sim --rate 100
    "$bin/quote_recorder" --server "127.0.0.1:$sim_port" --all --seconds 2 --out "$capture" \
        >"$work/recorder.log" || fail "recording: $(cat "$work/recorder.log")"
    echo "captured $(quotes_in_capture) quotes"
    ;;
roundtrip)
    publish_capture
    [ "$(summary 'dropped \(Redis slow or away\):')" = 0 ] || fail "dropped: $(cat "$work/bridge.out")"
    "$bin/stream_check" equal "$redis_port" t "$capture"
    events >"$work/events.txt"
    cut -d' ' -f1 "$work/events.txt" | paste -sd' ' | grep -qx 'started logged_in stopped' ||
        fail "events: $(cat "$work/events.txt")"
    ;;
restart)
    # The capture's 2 s replayed in 4, so that Redis goes away while quotes flow; a queue of 100
    # quotes overflows meanwhile, so that drops happen and are counted.
    quotes=$(quotes_in_capture)
    start_redis "$work/redis"
    start_sim --replay "$capture" --speed 0.5
    start_bridge --all --queue 100
    wait_status " [1-9][0-9]* published "
    port=$redis_port
    kill_redis
    wait_status "redis away"
    start_redis "$work/redis" "$port"
    wait_status " $quotes received .*redis up, 1 reconnects"
    stop_bridge
    published=$(summary 'published:')
    dropped=$(summary 'dropped \(Redis slow or away\):')
    refused=$(summary 'refused by Redis:')
    echo "$quotes quotes: $published published, $dropped dropped, $refused refused"
    [ $((published + dropped + refused)) -eq "$quotes" ] || fail "$(cat "$work/bridge.out")"
    [ "$dropped" -gt 0 ] || fail "nothing dropped: the outage did not overflow the queue"
    # The restarted Redis holds what was published after it came back, in the capture's order.
    events >"$work/events.txt"
    cat "$work/events.txt"
    restored=$(grep '^redis_restored ' "$work/events.txt") || fail "no redis_restored event"
    # The outage's losses; a queue this small may also overflow later, on a busy machine.
    lost=$(sed -nE 's/.* lost=([0-9]+).*/\1/p' <<<"$restored")
    [ "${lost:-0}" -gt 0 ] && [ "$lost" -le "$dropped" ] ||
        fail "the event counts ${lost:-no} lost of $dropped dropped"
    before=$(sed -nE 's/.* published=([0-9]+).*/\1/p' <<<"$restored")
    kept=$("$bin/stream_check" within "$redis_port" t "$capture" | cut -d' ' -f1)
    [ "$kept" -eq $((published - before)) ] ||
        fail "Redis holds $kept entries, the bridge published $((published - before)) after the restart"
    ;;
group)
    publish_capture
    "$bin/stream_check" group "$redis_port" 't:q:cu2506'
    ;;
refusals)
    b=$bin/quote_bridge
    expect() {  # status, text, command...
        local status=$1 text=$2 rc=0
        shift 2
        timeout 60 "$@" >"$work/out.txt" 2>&1 || rc=$?
        [ "$rc" -eq "$status" ] && grep -qF -- "$text" "$work/out.txt" ||
            fail "$* gave status $rc and: $(cat "$work/out.txt")"
    }
    expect 2 "unknown option --bogus" "$b" --bogus --all
    expect 2 "--redis wants HOST:PORT" "$b" --redis localhost --all
    expect 2 "--redis wants HOST:PORT" "$b" --redis 127.0.0.1:70000 --all
    expect 2 "--maxlen wants" "$b" --maxlen 0 --all
    expect 2 "--queue wants" "$b" --queue 12x --all
    expect 2 "--status wants" "$b" --status -1 --all
    expect 2 "--prefix wants" "$b" --prefix 'a b' --all
    expect 2 "--seconds wants" "$b" --seconds --all
    expect 2 "name the symbols" "$b"
    expect 2 "ORVQ_REDIS_PASSWORD" env -u ORVQ_REDIS_PASSWORD "$b" --redis-user me --all
    expect 0 "Usage: quote_bridge" "$b" --help
    for option in --server --user --password --seconds --all --redis --redis-user --prefix \
        --maxlen --queue --status --help; do
        grep -qE -- "^ +(-h, )?$option " "$work/out.txt" || fail "--help does not describe $option"
    done
    # Nothing listens where a Redis was.
    start_redis "$work/redis"
    gone=$redis_port
    stop_redis
    expect 1 "Redis at 127.0.0.1:$gone: cannot connect" "$b" --redis "127.0.0.1:$gone" --all
    # A Redis that wants a password, and a quote server that refuses the login.
    start_redis "$work/redis" "" --requirepass s3cret
    start_sim --refuse-login
    on=(--server "127.0.0.1:$sim_port" --redis "127.0.0.1:$redis_port" --all)
    expect 1 "refused PING: NOAUTH" env -u ORVQ_REDIS_PASSWORD "$b" "${on[@]}"
    expect 1 "refused the login: WRONGPASS" env ORVQ_REDIS_PASSWORD=wrong "$b" "${on[@]}"
    expect 1 "login failed" env ORVQ_REDIS_PASSWORD=s3cret "$b" "${on[@]}"
    # An ACL user that may only add to its own keys, as docs/bridge.md suggests, is enough.
    redis-cli -p "$redis_port" -a s3cret --no-auth-warning \
        ACL SETUSER bridge on '>pw' '~t:*' +xadd +ping >/dev/null
    expect 1 "refused the login: WRONGPASS" env ORVQ_REDIS_PASSWORD=s3cret "$b" "${on[@]}" \
        --redis-user bridge
    expect 1 "login failed" env ORVQ_REDIS_PASSWORD=pw "$b" "${on[@]}" --redis-user bridge \
        --prefix t
    written=$(redis-cli -p "$redis_port" -a s3cret --no-auth-warning --raw XRANGE t:events - + |
        grep -xE 'started|stopped' | paste -sd' ')
    [ "$written" = "started stopped" ] || fail "the ACL user wrote '$written' to t:events"
    kill -INT "$sim_pid"
    wait "$sim_pid" || true
    sim_pid=
    expect 1 "cannot connect to 127.0.0.1:$sim_port" env ORVQ_REDIS_PASSWORD=s3cret "$b" "${on[@]}"
    echo "refused with a message: bad options, no Redis, Redis passwords and ACL users, no server, a refused login"
    ;;
*)
    fail "unknown mode"
    ;;
esac
echo "bridge $mode: passed"
