# Sourced by the tests and benchmarks that need a Redis of their own (Debian: redis-server,
# redis-tools). start_redis DIR [PORT] starts redis-server on 127.0.0.1 with a free port (or
# PORT), DIR as its folder and no persistence, and sets redis_port and redis_pid; kill_redis
# ends it at once (SIGKILL, as a crash would); stop_redis ends it in order.
have_redis() {
    command -v redis-server >/dev/null && command -v redis-cli >/dev/null
}

# Waits, with a bound, until the server on port $1 answers (PING, or asks for a password) or
# its process is gone.
wait_redis() {
    local i
    for i in $(seq 200); do
        case "$(redis-cli -p "$1" ping 2>&1)" in PONG | *NOAUTH*) return 0 ;; esac
        kill -0 "$redis_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

start_redis() {  # DIR [PORT] [redis-server options...]
    local dir=$1 given=${2:-} port try
    shift $(($# < 2 ? $# : 2))
    mkdir -p "$dir"
    for try in $(seq 20); do
        # A random port that may be taken: redis-server then exits, and the next is tried.
        port=${given:-$((20000 + (RANDOM * 32768 + RANDOM) % 40000))}
        redis-server --port "$port" --bind 127.0.0.1 --dir "$dir" --save '' --appendonly no \
            --daemonize no --logfile "$dir/redis-$port.log" "$@" &
        redis_pid=$!
        if wait_redis "$port"; then
            redis_port=$port
            return 0
        fi
        kill -9 "$redis_pid" 2>/dev/null || true
        wait "$redis_pid" 2>/dev/null || true
        redis_pid=
        [ -z "$given" ] || break
    done
    echo "redis-server did not start (see $dir)" >&2
    return 1
}

kill_redis() {
    [ -n "${redis_pid:-}" ] || return 0
    kill -9 "$redis_pid" 2>/dev/null || true
    wait "$redis_pid" 2>/dev/null || true
    redis_pid=
}

stop_redis() {
    [ -n "${redis_pid:-}" ] || return 0
    kill "$redis_pid" 2>/dev/null || true
    wait "$redis_pid" 2>/dev/null || true
    redis_pid=
}
