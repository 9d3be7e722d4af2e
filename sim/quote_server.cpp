#include "sim/quote_server.h"

#include <algorithm>
#include <random>
#include <utility>

#include "platform/clock.h"
#include "sim/messages.h"
#include "sim/sample_data.h"

namespace sim {

namespace {
// Without a waker, how long the I/O thread waits for sockets before it looks again at the
// listener, the connection list and the stop flag.
constexpr long io_wait_ms = 10;
// With split writes, the pieces of one write leave this far apart, so that the client most
// likely reads them apart instead of finding them joined again in its socket buffer.
constexpr std::uint32_t split_pause_ms = 1;
}  // namespace

// One accepted connection. `lock` is held for every recv, send and the close, so that the
// socket is never used after it is closed; `open` changes only under it. The session and the
// random cuts of split writes are guarded by it too.
struct quote_server::connection {
    connection(std::size_t n, platform::socket_t s, std::uint64_t seed)
        : number(n), socket(s), cutter(n), cuts(seed + n) {}
    const std::size_t number;
    std::mutex lock;
    platform::socket_t socket;
    std::atomic<bool> open{true};
    request_cutter cutter;  // I/O thread only
    session state;
    std::mt19937_64 cuts;
    std::string out;  // the write send_for_session makes, kept for its buffer
};

// What the I/O thread waits on in one round.
struct quote_server::snapshot {
    platform::socket_t listener = platform::invalid_socket;
    std::uint64_t listen_generation = 0;
    std::vector<std::shared_ptr<connection>> open;
};

// Out of line, so that callers do not build the default setup in place: GCC's optimiser then
// takes its strings for uninitialized.
quote_server::quote_server() : quote_server(server_setup()) {}

quote_server::quote_server(server_setup setup)
    : m_bind(setup.bind),
      m_split(setup.split_writes),
      m_seed(setup.seed),
      m_log(std::move(setup.log)),
      m_script(std::move(setup.script)),
      m_start_ticks(platform::perf_counter()) {
    platform::sockets_startup();
    m_listener = platform::socket_listen(m_bind.c_str(), setup.port, &m_port);
    platform::waker_open(m_io_waker);
    platform::thread_start(&quote_server::_th_io, this, &m_thread, nullptr);
}

quote_server::~quote_server() {
    m_stop.store(true);
    wake_io();
    platform::thread_join(m_thread);
    drop_all(false);
    stop_listening();
    platform::waker_close(m_io_waker);
    platform::sockets_cleanup();
}

bool quote_server::listening() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_listener != platform::invalid_socket;
}

void quote_server::update_script(const std::function<void(reply_script&)>& change) {
    std::lock_guard<std::mutex> guard(m_lock);
    change(m_script);
}

// ---- connections

std::size_t quote_server::accepted_count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_connections.size();
}

std::size_t quote_server::open_count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::size_t count = 0;
    for (const auto& c : m_connections) count += c->open.load() ? 1 : 0;
    return count;
}

bool quote_server::is_open(std::size_t number) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return number < m_connections.size() && m_connections[number]->open.load();
}

bool quote_server::wait_accepted(std::size_t count, int timeout_ms) const {
    return wait_for([&] { return accepted_count() >= count; }, timeout_ms);
}

bool quote_server::wait_open_count(std::size_t count, int timeout_ms) const {
    return wait_for([&] { return open_count() == count; }, timeout_ms);
}

bool quote_server::wait_closed(std::size_t number, int timeout_ms) const {
    return wait_for([&] { return number < accepted_count() && !is_open(number); }, timeout_ms);
}

std::map<std::size_t, session> quote_server::sessions() const {
    std::map<std::size_t, session> found;
    for (const auto& c : targets(all_connections)) {
        std::lock_guard<std::mutex> guard(c->lock);
        if (c->open.load()) found.emplace(c->number, c->state);
    }
    return found;
}

// ---- the record

std::vector<request> quote_server::requests() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

std::vector<request> quote_server::requests_on(std::size_t number) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<request> found;
    for (const request& r : m_requests) {
        if (r.connection == number) found.push_back(r);
    }
    return found;
}

std::vector<request> quote_server::requests_of(char type) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<request> found;
    for (const request& r : m_requests) {
        if (r.type == type) found.push_back(r);
    }
    return found;
}

std::size_t quote_server::request_count(char type) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::size_t count = 0;
    for (const request& r : m_requests) count += r.type == type ? 1 : 0;
    return count;
}

std::size_t quote_server::login_count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_logins;
}

void quote_server::clear_requests() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.clear();
}

bool quote_server::wait_request(char type, std::size_t count, int timeout_ms) const {
    return wait_for([&] { return request_count(type) >= count; }, timeout_ms);
}

bool quote_server::wait_for(const std::function<bool()>& condition, int timeout_ms) const {
    return m_changed.wait_for(condition, timeout_ms);
}

// ---- sending

std::vector<std::shared_ptr<quote_server::connection>> quote_server::targets(
    std::size_t which) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (which != all_connections) {
        if (which < m_connections.size()) return {m_connections[which]};
        return {};
    }
    std::vector<std::shared_ptr<connection>> open;
    for (const auto& c : m_connections) {
        if (c->open.load()) open.push_back(c);
    }
    return open;
}

bool quote_server::send_all(connection& c, const std::string& bytes) const {
    std::lock_guard<std::mutex> guard(c.lock);
    return send_locked(c, bytes);
}

bool quote_server::send_locked(connection& c, const std::string& bytes) const {
    if (!c.open.load()) return false;
    std::vector<std::size_t> ends;
    if (m_split && bytes.size() > 1) {
        std::uniform_int_distribution<std::size_t> offset(1, bytes.size() - 1);
        for (int i = std::uniform_int_distribution<int>(0, 3)(c.cuts); i > 0; --i) {
            ends.push_back(offset(c.cuts));
        }
        std::sort(ends.begin(), ends.end());
    }
    ends.push_back(bytes.size());
    std::size_t sent = 0;
    for (std::size_t end : ends) {
        if (end <= sent) continue;
        if (sent > 0) platform::sleep_ms(split_pause_ms);
        while (sent < end) {
            const int n =
                platform::socket_send(c.socket, bytes.data() + sent, static_cast<int>(end - sent));
            // The I/O thread notices the broken connection on its next read and closes it.
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
    }
    return true;
}

bool quote_server::send_raw(std::size_t which, const std::string& bytes) {
    const auto addressed = targets(which);
    bool ok = !addressed.empty();
    for (const auto& c : addressed) ok = send_all(*c, bytes) && ok;
    return ok;
}

bool quote_server::send_raw_split(std::size_t which, const std::string& bytes,
                                  const std::vector<std::size_t>& cuts,
                                  const std::function<void(std::size_t)>& between) {
    bool ok = true;
    std::size_t start = 0;
    std::size_t piece = 0;
    auto send_piece = [&](std::size_t end) {
        if (piece > 0 && between) between(piece);
        ok = send_raw(which, bytes.substr(start, end - start)) && ok;
        start = end;
        ++piece;
    };
    for (std::size_t cut : cuts) {
        if (cut > start && cut < bytes.size()) send_piece(cut);
    }
    send_piece(bytes.size());
    return ok;
}

bool quote_server::send_raw_split(std::size_t which, const std::string& bytes,
                                  const std::vector<std::size_t>& cuts, int pause_ms) {
    const auto pause = static_cast<std::uint32_t>(pause_ms < 0 ? 0 : pause_ms);
    return send_raw_split(which, bytes, cuts, [pause](std::size_t) { platform::sleep_ms(pause); });
}

bool quote_server::send_register_reply(std::size_t which, char result, char exchange_code,
                                       const std::string& symbol) {
    return send_raw(which, register_reply_bytes(result, exchange_code, symbol));
}

bool quote_server::send_unregister_reply(std::size_t which, char result, char exchange_code,
                                         const std::string& symbol) {
    return send_raw(which, unregister_reply_bytes(result, exchange_code, symbol));
}

bool quote_server::send_quote(std::size_t which, char exchange_code,
                              const OrvMarketDepthQuoteData& quote) {
    return send_raw(which, quote_bytes(exchange_code, quote));
}

bool quote_server::send_heartbeat(std::size_t which, std::int64_t send_time) {
    return send_raw(which, heartbeat_bytes(send_time));
}

std::uint64_t quote_server::send_for_session(std::size_t which, const quote_maker& make) {
    const auto addressed = targets(which);
    if (addressed.size() != 1) return 0;
    connection& c = *addressed[0];
    std::lock_guard<std::mutex> guard(c.lock);
    if (!c.open.load()) return 0;
    c.out.clear();
    const std::uint64_t count = make(c.state, c.out);
    if (count == 0 || !send_locked(c, c.out)) return 0;
    c.state.quotes += count;
    return count;
}

std::uint64_t quote_server::send_sample_quotes(std::size_t which, int sequence) {
    std::vector<symbol_entry> listed;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        listed = m_script.symbols;
    }
    return send_for_session(which, [&](const session& state, std::string& bytes) {
        std::uint64_t count = 0;
        for (const symbol_entry& entry : listed) {
            if (state.registered.count(entry.symbol) == 0) continue;
            bytes += quote_bytes(entry.exchange_code, make_quote(entry.symbol, sequence));
            ++count;
        }
        return count;
    });
}

// ---- faults

bool quote_server::close(connection& c, bool reset) {
    std::lock_guard<std::mutex> guard(c.lock);
    if (!c.open.load()) return false;
    // The shutdown makes the close take effect now even while the I/O thread waits on the
    // socket. An orderly end sends its FIN with it; a reset must not, so that the linger
    // setting turns the close into a reset.
    platform::socket_shutdown(c.socket, !reset);
    if (reset) platform::socket_set_linger_zero(c.socket);
    platform::socket_close(c.socket);
    c.open.store(false);
    return true;
}

bool quote_server::drop(std::size_t which, bool reset) {
    bool dropped = false;
    for (const auto& c : targets(which)) dropped = close(*c, reset) || dropped;
    if (dropped) wait_io_round();
    m_changed.notify();
    return dropped;
}

void quote_server::drop_all(bool reset) {
    drop(all_connections, reset);
}

void quote_server::stop_listening() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_listener == platform::invalid_socket) return;
        platform::socket_shutdown(m_listener, true);
        platform::socket_close(m_listener);
        m_listener = platform::invalid_socket;
        ++m_listen_generation;
    }
    wait_io_round();
    m_changed.notify();
}

bool quote_server::listen_again() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_listener != platform::invalid_socket) return true;
    if (m_port == 0) return false;
    m_listener = platform::socket_listen(m_bind.c_str(), m_port, nullptr);
    ++m_listen_generation;
    wake_io();
    return m_listener != platform::invalid_socket;
}

void quote_server::wake_io() {
    if (m_io_waker.handle != platform::invalid_socket) platform::waker_notify(m_io_waker);
}

// Where a wait keeps a closed socket alive until it ends (wine's select does, even after a
// shutdown), the socket is gone only when the I/O thread's current wait is over. The round is
// counted before the wake: a wait under way ends with it, and one about to begin with a list
// taken before the close finds the waker set and ends at once, either way counting a round.
void quote_server::wait_io_round() {
    if (m_stop.load()) return;  // the I/O thread has ended or is ending
    const std::uint64_t seen = m_io_rounds.load();
    wake_io();
    m_changed.wait_for([&] { return m_io_rounds.load() > seen || m_stop.load(); }, 2000);
}

// ---- the I/O thread

void quote_server::_th_io(void* self) {
    static_cast<quote_server*>(self)->io_loop();
}

quote_server::snapshot quote_server::take_snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    snapshot s;
    s.listener = m_listener;
    s.listen_generation = m_listen_generation;
    for (const auto& c : m_connections) {
        if (c->open.load()) s.open.push_back(c);
    }
    return s;
}

void quote_server::io_loop() {
    std::vector<platform::poll_entry> watched;  // the listener (if any) first, then s.open
    while (!m_stop.load()) {
        const snapshot s = take_snapshot();
        const std::size_t first = s.listener != platform::invalid_socket ? 1 : 0;
        watched.assign(first + s.open.size(), platform::poll_entry{});
        if (first != 0) watched[0].socket = s.listener;
        for (std::size_t i = 0; i < s.open.size(); ++i)
            watched[first + i].socket = s.open[i]->socket;
        int ready_count = 0;
        if (m_io_waker.handle != platform::invalid_socket) {
            // Whoever changes what is watched wakes the wait; until then it has no end.
            ready_count = platform::socket_poll(watched.data(), watched.size(), -1, &m_io_waker);
        } else if (watched.empty()) {
            // Waiting on nothing is an error on Windows; there is nothing to read anyway.
            platform::sleep_ms(io_wait_ms);
        } else {
            // A socket closed by another thread during the wait is found closed by read_from.
            ready_count = platform::socket_poll(watched.data(), watched.size(), io_wait_ms);
        }
        m_io_rounds.fetch_add(1);
        m_changed.notify();
        if (ready_count <= 0) continue;
        if (first != 0 && watched[0].readable) accept_pending(s.listen_generation);
        for (std::size_t i = 0; i < s.open.size(); ++i) {
            if (watched[first + i].readable) read_from(s.open[i]);
        }
    }
}

void quote_server::accept_pending(std::uint64_t listen_generation) {
    std::shared_ptr<connection> accepted;
    {
        // Under the lock, so that the listener the wait saw is still the one accepted from.
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_listener == platform::invalid_socket || m_listen_generation != listen_generation) {
            return;
        }
        const platform::socket_t s = platform::socket_accept(m_listener);
        if (s == platform::invalid_socket) return;
        // Pieces of a split send must leave as separate segments.
        platform::socket_set_nodelay(s);
        accepted = std::make_shared<connection>(m_connections.size(), s, m_seed);
        m_connections.push_back(accepted);
    }
    m_changed.notify();
    log("client " + std::to_string(accepted->number) + ": connected");
}

void quote_server::read_from(const std::shared_ptr<connection>& c) {
    char buffer[8192];
    int n;
    {
        std::lock_guard<std::mutex> guard(c->lock);
        if (!c->open.load()) return;
        n = platform::socket_recv(c->socket, buffer, static_cast<int>(sizeof buffer));
    }
    if (n <= 0) {
        // The client has closed or reset the connection, unless this side closed it meanwhile.
        if (!close(*c, false)) return;
        m_changed.notify();
        std::uint64_t quotes;
        {
            std::lock_guard<std::mutex> guard(c->lock);
            quotes = c->state.quotes;
        }
        log("client " + std::to_string(c->number) + ": disconnected (" + std::to_string(quotes) +
            " quotes sent)");
        return;
    }
    for (request& r : c->cutter.feed(buffer, static_cast<std::size_t>(n), elapsed_ms())) {
        handle(c, std::move(r));
    }
}

void quote_server::handle(const std::shared_ptr<connection>& c, request&& req) {
    reply answer;
    {
        // The session changes and the reply leaves under the connection's lock, so that what
        // send_for_session finds registered matches what the client has been told.
        std::lock_guard<std::mutex> connection_guard(c->lock);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (req.type == 'L' && !req.unknown) ++m_logins;
            answer = scripted_reply(m_script, c->state, req, m_logins);
            // Recorded before the reply leaves, so that whoever has seen the reply also finds
            // the request.
            m_requests.push_back(std::move(req));
        }
        if (!answer.bytes.empty()) send_locked(*c, answer.bytes);
    }
    m_changed.notify();
    log(answer.event);
}

void quote_server::log(const std::string& line) const {
    if (m_log && !line.empty()) m_log(line);
}

std::int64_t quote_server::elapsed_ms() const {
    return (platform::perf_counter() - m_start_ticks) * 1000 / platform::perf_frequency();
}

}  // namespace sim
