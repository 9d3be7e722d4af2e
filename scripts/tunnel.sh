#!/usr/bin/env bash
# The login across an untrusted network, through a TLS tunnel: oqs_sim behind an stunnel
# server, quote_recorder connecting through an stunnel client, all on 127.0.0.1 with free
# ports and a certificate made for the run. Two recording relays (socat) sit on the hops:
#
#   quote_recorder -> stunnel client -> relay "tunnel" -> stunnel server -> relay "plain" -> oqs_sim
#
# Checks that quotes arrive through the tunnel, that the tunnel hop carries TLS and not the
# protocol (the login's password digest is nowhere in it), and, so that the check can fail,
# that the plain hop does carry the digest. A few seconds.
#
#   scripts/tunnel.sh [BUILD_DIR]   (default: the dev preset's build/dev, configured first)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
cd "$root"
. scripts/lib/packages.sh
ensure_packages stunnel4 openssl socat
[ $# -gt 0 ] || cmake --preset dev >/dev/null
cmake --build "$build" --target oqs_sim quote_recorder >/dev/null

work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

fail() {
    echo "tunnel: FAILED: $*" >&2
    for log in "$work"/*.log; do echo "--- $log" && tail -n 15 "$log"; done >&2
    exit 1
}

# A port nothing listens on now.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
    done
    echo "$port"
}

# Starts a program in the background with its output in NAME.log and waits for the log line
# that says it listens (a relay accepts one connection only, so no probing connect).
start() {  # name, pattern, command...
    local name=$1 pattern=$2
    shift 2
    "$@" >"$work/$name.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        grep -qE "$pattern" "$work/$name.log" && return 0
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    fail "$name did not start"
}

# A relay that records what the client side sends: socat's -r writes the bytes flowing from
# its first address to its second.
relay() {  # name, listen port, target port
    start "$1" "listening on" socat -d -d -r "$work/$1.bytes" \
        "TCP-LISTEN:$2,bind=127.0.0.1,reuseaddr" "TCP:127.0.0.1:$3"
}

stunnel_side() {  # name, options of the service...
    local name=$1
    shift
    printf '%s\n' "foreground = yes" "pid =" "debug = info" "[oqs]" "$@" >"$work/$name.conf"
    start "$name" "bound to" stunnel "$work/$name.conf"
}

# The server's certificate, for 127.0.0.1; the client trusts exactly it.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
    -subj /CN=oqs-sim -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" || fail "openssl"

start sim "listening on" "$build/bin/oqs_sim" --port 0
sim_port=$(sed -nE 's/.*listening on 127\.0\.0\.1:([0-9]+).*/\1/p' "$work/sim.log")
plain_port=$(free_port)
relay plain "$plain_port" "$sim_port"
server_port=$(free_port)
stunnel_side server "accept = 127.0.0.1:$server_port" "connect = 127.0.0.1:$plain_port" \
    "cert = $work/cert.pem" "key = $work/key.pem"
tunnel_port=$(free_port)
relay tunnel "$tunnel_port" "$server_port"
client_port=$(free_port)
stunnel_side client "client = yes" "accept = 127.0.0.1:$client_port" \
    "connect = 127.0.0.1:$tunnel_port" "CAfile = $work/cert.pem" "verifyChain = yes" \
    "checkIP = 127.0.0.1"

"$build/bin/quote_recorder" --server "127.0.0.1:$client_port" --user demo --password demo \
    --all --seconds 3 --out "$work/quotes.oqcap" >"$work/recorder.log" 2>&1 ||
    fail "quote_recorder ended with status $?"
quotes=$(sed -nE 's/^quotes recorded: ([0-9]+) .*/\1/p' "$work/recorder.log")
[ "${quotes:-0}" -gt 0 ] || fail "no quote came through the tunnel"

digest=$(printf demo | md5sum | cut -c1-32 | tr a-f A-F)
grep -qaF "$digest" "$work/plain.bytes" || fail "the plain hop lacks the login's digest"
[ "$(head -c 1 "$work/tunnel.bytes" | od -An -tx1 | tr -d ' ')" = 16 ] ||
    fail "the tunnel hop does not begin with a TLS handshake"
! grep -qaF "$digest" "$work/tunnel.bytes" || fail "the login's digest crossed the tunnel in clear"
echo "tunnel: $quotes quotes through the tunnel; its $(wc -c <"$work/tunnel.bytes") bytes from" \
    "the client are TLS, without the password's digest"
