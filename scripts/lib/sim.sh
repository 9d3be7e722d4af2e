# Sourced by the scripts that start oqs_sim in the background with --port 0: sim_port_of LOG PID
# waits, with a bound (30 s: a Windows build under wine starts slowly), for the simulator's
# "listening on 127.0.0.1:PORT" line in LOG, its standard error, and prints PORT. It fails when
# the process ends first or the line does not come.
sim_port_of() {
    local log=$1 pid=$2 port
    for _ in $(seq 600); do
        port=$(sed -nE 's/.*listening on 127\.0\.0\.1:([0-9]+).*/\1/p' "$log")
        [ -z "$port" ] || { echo "$port"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}
