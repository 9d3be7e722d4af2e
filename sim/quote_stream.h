// Internal to the simulator command, the demo and their tests. A complete simulated quote
// server: a quote_server whose answers come from a request_desk (logins checked against the
// users' password digests), with a synthetic quote stream for every registered symbol of every
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
#include <string>
#include <thread>
#include <vector>

#include "sim/market_model.h"
#include "sim/quote_server.h"
#include "sim/quote_source.h"
#include "sim/request_desk.h"
#include "sim/sim_options.h"
#include "sim/wire_writer.h"

namespace sim {

// Its own thread answers requests, streams quotes and sends heartbeats; the public methods are
// safe from any thread. It owns the server, the sessions (its thread only) and that thread; the
// counters are atomic. Every client event is handed to the log function, on that thread.
class quote_stream {
public:
    using log_fn = std::function<void(const std::string& line)>;

    // Listens on 127.0.0.1:options.port (0: a free port) and starts serving. A null `log`
    // drops the event lines. With a `source`, its instruments make the symbol list and its
    // quotes replace the invented market's.
    explicit quote_stream(const sim_options& options, log_fn log = nullptr,
                          std::unique_ptr<quote_source> source = nullptr);
    // Stops serving and closes every connection.
    ~quote_stream();
    quote_stream(const quote_stream&) = delete;
    quote_stream& operator=(const quote_stream&) = delete;

    // False when the port could not be listened on (in use, say).
    bool listening() const { return m_server.listening(); }
    std::uint16_t port() const { return m_server.port(); }

    // Ends the serving thread; the connections stay open until destruction. Idempotent.
    void stop();

    std::uint64_t quotes_sent() const { return m_quotes_sent.load(); }
    std::size_t client_count() const { return m_clients.load(); }

private:
    using clock = std::chrono::steady_clock;

    void run();
    void wait_for_work(clock::time_point now);
    void take_requests();
    void take_new_connections(clock::time_point now);
    void answer_requests();
    void close_ended(clock::time_point now);
    void send_quotes(clock::time_point now);
    void send_from_source(clock::time_point now);
    void send_heartbeats(clock::time_point now);
    clock::time_point next_deadline(clock::time_point now) const;
    void log(const std::string& event) const;

    const sim_options m_options;
    const log_fn m_log;
    const std::unique_ptr<quote_source> m_source;  // before the desk, which lists its symbols
    quote_server m_server;
    request_desk m_desk;
    market_model m_market;
    wire_writer m_writer;

    // The serving thread's own state.
    std::map<std::size_t, client_session> m_sessions;
    std::size_t m_known = 0;       // connections accepted so far (each got a session)
    std::vector<request> m_fresh;  // taken, not yet answered
    clock::time_point m_start;
    std::uint64_t m_ticks = 0;  // quote rounds sent since m_start
    source_batch m_batch;       // kept, so that its buffer is reused

    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_quotes_sent{0};
    std::atomic<std::size_t> m_clients{0};
    std::thread m_thread;
};

}  // namespace sim
