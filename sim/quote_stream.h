// Internal to the simulator command, the demo and their tests. A complete simulated quote
// server: a quote_server whose script checks logins against the users' password digests and
// what each connection asks, with a synthetic quote stream for every registered symbol of every
// logged-in connection (or the quotes of a quote_source, a replayed capture say), heartbeats,
// and the fault switches of sim_options.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/market_model.h"
#include "sim/quote_server.h"
#include "sim/quote_source.h"
#include "sim/sim_options.h"

namespace sim {

// The server's setup for these options, offering `list`: the answers oqs_sim gives from its
// first connection on.
server_setup setup_for(const sim_options& options, const std::vector<instrument>& list);

// Its own thread streams quotes, sends heartbeats and drops connections on time; the server's
// I/O thread answers the requests. The public methods are safe from any thread. It owns the
// server, the market or the source, and that thread; the counter is atomic, m_log_lock
// serialises the log.
class quote_stream {
public:
    using log_fn = std::function<void(const std::string& line)>;

    // Listens on 127.0.0.1:options.port (0: a free port) and starts serving. A null `log`
    // drops the event lines; it is called on one thread at a time. With a `source`, its
    // instruments make the symbol list and its quotes replace the invented market's.
    explicit quote_stream(const sim_options& options, log_fn log = nullptr,
                          std::unique_ptr<quote_source> source = nullptr);
    // Stops serving and closes every connection.
    ~quote_stream();
    quote_stream(const quote_stream&) = delete;
    quote_stream& operator=(const quote_stream&) = delete;

    // False when the port could not be listened on (in use, say).
    bool listening() const { return m_server.listening(); }
    std::uint16_t port() const { return m_server.port(); }

    // Ends the streaming thread; the connections stay open until destruction. Idempotent.
    void stop();

    std::uint64_t quotes_sent() const { return m_quotes_sent.load(); }

private:
    using clock = std::chrono::steady_clock;

    // The stream's own view of one open connection.
    struct timers {
        clock::time_point accepted;
        clock::time_point next_heartbeat;
    };

    void run();
    void follow_connections(clock::time_point now);
    void drop_expired(clock::time_point now);
    void send_quotes(clock::time_point now);
    void send_from_source(clock::time_point now);
    void count_sent(std::size_t connection, session& state, std::uint64_t sent);
    void forget(std::size_t connection);
    void send_heartbeats(clock::time_point now);
    clock::time_point next_deadline(clock::time_point now) const;
    std::string junk();
    void log(const std::string& event) const;

    const sim_options m_options;
    const log_fn m_log;
    mutable std::mutex m_log_lock;
    const std::unique_ptr<quote_source> m_source;  // before the server, whose list it makes
    quote_server m_server;
    market_model m_market;

    // The streaming thread's own state.
    std::map<std::size_t, session> m_sessions;  // the open connections, as last seen
    std::map<std::size_t, timers> m_timers;
    clock::time_point m_start;
    std::uint64_t m_ticks = 0;  // quote rounds sent since m_start
    std::mt19937_64 m_random;   // of the junk blocks
    source_batch m_batch;       // kept for its buffer

    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_quotes_sent{0};
    std::thread m_thread;
};

}  // namespace sim
