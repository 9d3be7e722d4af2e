// Internal to the simulator, tests, benchmarks and the demo. A quote server on 127.0.0.1 for
// the client library to talk to over real TCP: it records every request, answers it by its
// script (sim/reply_script.h), and lets a test send any bytes and cause faults.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/thread.h"
#include "sim/change_signal.h"
#include "sim/reply_script.h"
#include "sim/request_cutter.h"

namespace sim {

// Addresses every open connection in the send and drop operations.
constexpr std::size_t all_connections = static_cast<std::size_t>(-1);

// Everything a server needs before its first connection: it is in force from the moment the
// server listens.
struct server_setup {
    std::uint16_t port = 0;          // 0: an ephemeral port
    std::string bind = "127.0.0.1";  // dotted IPv4; "0.0.0.0" listens on every interface
    reply_script script;
    // Every write leaves in one to four pieces cut at random offsets, a millisecond apart, so
    // that a client reads them apart; the cuts follow from `seed`.
    bool split_writes = false;
    std::uint64_t seed = 1;
    // Gets the script's line for every answered request and one for every connection accepted
    // or ended by the client, on the I/O thread, with no lock of the server held.
    std::function<void(const std::string& line)> log;
};

// Its own I/O thread accepts, reads and sends the scripted answers; every public method is safe
// from any thread. Owns the listener, the connections and that thread; m_lock guards the lists,
// the listener and the script, and each connection's lock its socket (reads, sends, the close)
// and its session. A thread that takes both takes the connection's lock first.
class quote_server {
public:
    // Listens on setup.bind:setup.port and starts the I/O thread.
    quote_server();
    explicit quote_server(server_setup setup);
    // Stops the I/O thread, waits for it and closes every socket.
    ~quote_server();
    quote_server(const quote_server&) = delete;
    quote_server& operator=(const quote_server&) = delete;

    const char* ip() const { return "127.0.0.1"; }
    std::uint16_t port() const { return m_port; }
    bool listening() const;

    // Changes the script for requests handled after the call; `change` runs under the
    // server's lock and must not call the server.
    void update_script(const std::function<void(reply_script&)>& change);

    // Connections are numbered from 0 in the order of acceptance.
    std::size_t accepted_count() const;
    std::size_t open_count() const;
    bool is_open(std::size_t connection) const;
    bool wait_accepted(std::size_t count, int timeout_ms) const;
    bool wait_open_count(std::size_t count, int timeout_ms) const;
    bool wait_closed(std::size_t connection, int timeout_ms) const;
    // The sessions of the open connections, by connection number.
    std::map<std::size_t, session> sessions() const;

    // The record of requests, in arrival order. A request appears in it only after its
    // scripted answer has been sent.
    std::vector<request> requests() const;
    std::vector<request> requests_on(std::size_t connection) const;
    std::vector<request> requests_of(char type) const;
    std::size_t request_count(char type) const;
    std::size_t login_count() const;  // login requests since the server started
    void clear_requests();
    bool wait_request(char type, std::size_t count, int timeout_ms) const;
    // Waits until `condition` holds; it is checked on every change of the server and every
    // few milliseconds, without any lock of the server held.
    bool wait_for(const std::function<bool()>& condition, int timeout_ms) const;
    // The server's changes (connections, requests, closes) so far, a wait for the next one
    // (see change_signal::wait_change), and a wake for such waits.
    std::uint64_t change_version() const { return m_changed.version(); }
    void wait_change(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) const {
        m_changed.wait_change(seen, deadline);
    }
    void notify_change() { m_changed.notify(); }

    // Sends to one connection or to all_connections; true when every addressed connection
    // was open and took all bytes. Each call is one write (several messages concatenated in
    // `bytes` arrive together); it blocks while the client's receive buffers are full.
    bool send_raw(std::size_t connection, const std::string& bytes);
    // Sends `bytes` in pieces cut at the given offsets, one write each, calling `between(k)`
    // before piece k (k from 1), or pausing pause_ms, so that the client gets them apart.
    bool send_raw_split(std::size_t connection, const std::string& bytes,
                        const std::vector<std::size_t>& cuts,
                        const std::function<void(std::size_t)>& between);
    bool send_raw_split(std::size_t connection, const std::string& bytes,
                        const std::vector<std::size_t>& cuts, int pause_ms = 20);
    bool send_register_reply(std::size_t connection, char result, char exchange_code,
                             const std::string& symbol);
    bool send_unregister_reply(std::size_t connection, char result, char exchange_code,
                               const std::string& symbol);
    bool send_quote(std::size_t connection, char exchange_code,
                    const OrvMarketDepthQuoteData& quote);
    bool send_heartbeat(std::size_t connection, std::int64_t send_time);
    // One write of quotes made for the connection's session: `make` appends quote messages to
    // `bytes` for what the session has registered and returns how many it appended. It runs,
    // and the write goes, under the connection's lock, so that no quote follows the reply that
    // unregisters its symbol; `make` must not call the server. Returns the quotes sent (0 when
    // the connection is not open or nothing was made).
    using quote_maker = std::function<std::uint64_t(const session& state, std::string& bytes)>;
    std::uint64_t send_for_session(std::size_t connection, const quote_maker& make);
    // One write of a sample quote (make_quote with `sequence`, which a client finds again as
    // MarketCount1 - 1000) for every listed symbol the connection has registered; the quotes
    // sent.
    std::uint64_t send_sample_quotes(std::size_t connection, int sequence);

    // Faults. drop closes a connection (with reset: SO_LINGER 0, so the client sees a reset
    // instead of an orderly end; wine shows both alike); false when it was not open. These
    // return once the I/O thread no longer waits on the closed sockets, so they are gone.
    bool drop(std::size_t connection, bool reset = false);
    void drop_all(bool reset = false);
    // Closes the listener, so that connects are refused; open connections stay.
    void stop_listening();
    // Listens on the same port again; true when listening afterwards.
    bool listen_again();

private:
    struct connection;
    struct snapshot;

    static void _th_io(void* self);
    void io_loop();
    snapshot take_snapshot() const;
    void accept_pending(std::uint64_t listen_generation);
    void read_from(const std::shared_ptr<connection>& c);
    void handle(const std::shared_ptr<connection>& c, request&& req);
    std::vector<std::shared_ptr<connection>> targets(std::size_t which) const;
    bool send_all(connection& c, const std::string& bytes) const;
    bool send_locked(connection& c, const std::string& bytes) const;
    void log(const std::string& line) const;
    static bool close(connection& c, bool reset);
    std::int64_t elapsed_ms() const;
    void wait_io_round();
    void wake_io();

    const std::string m_bind;
    const bool m_split;
    const std::uint64_t m_seed;
    const std::function<void(const std::string&)> m_log;
    mutable std::mutex m_lock;
    platform::socket_t m_listener = platform::invalid_socket;
    std::uint64_t m_listen_generation = 0;  // changes with every close or open of the listener
    std::uint16_t m_port = 0;
    std::vector<std::shared_ptr<connection>> m_connections;
    reply_script m_script;
    std::size_t m_logins = 0;
    std::vector<request> m_requests;

    change_signal m_changed;
    std::int64_t m_start_ticks = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_io_rounds{0};  // socket waits the I/O thread has finished
    // Ends the I/O thread's wait when what it waits on changes: the listener, a connection
    // closed by this side, the stop. Invalid when it could not be made: then the thread looks
    // again every io_wait_ms instead.
    platform::socket_waker m_io_waker;
    platform::thread_handle m_thread;
};

}  // namespace sim
