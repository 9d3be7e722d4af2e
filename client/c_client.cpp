#include "client/c_client.h"

#include <chrono>
#include <cstddef>
#include <cstring>

namespace {

// The client whose callback the calling thread is running, if any (nested callbacks of
// another client put it back when they return).
thread_local const c_client* t_calling = nullptr;

std::int64_t now_ns() {
    return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
}

// A poll's deadline: none for a negative time-out (a year is as good as none).
quote_ring::clock::time_point deadline_of(int timeout_ms) {
    const auto wait = timeout_ms < 0 ? std::chrono::milliseconds(std::chrono::hours(24 * 365))
                                     : std::chrono::milliseconds(timeout_ms);
    return quote_ring::clock::now() + wait;
}

// The entries of `given` that its size covers whole; the rest stay null.
orvq_callbacks copy_table(const orvq_callbacks* given) {
    orvq_callbacks table;
    std::memset(&table, 0, sizeof table);
    if (given == nullptr) return table;
    constexpr std::size_t first = offsetof(orvq_callbacks, on_connected);
    const std::size_t size = given->size < sizeof table ? given->size : sizeof table;
    if (size > first) {
        const std::size_t entries = (size - first) / sizeof table.on_connected;
        std::memcpy(reinterpret_cast<char*>(&table) + first,
                    reinterpret_cast<const char*>(given) + first,
                    entries * sizeof table.on_connected);
    }
    table.size = sizeof table;
    return table;
}

}  // namespace

c_client::c_client(const orvq_callbacks* callbacks, void* user, std::uint32_t queue_capacity)
    : m_table(copy_table(callbacks)), m_user(user) {
    if (m_table.on_quote == nullptr) {
        m_ring = std::make_unique<quote_ring>(queue_capacity);
        m_events = std::make_unique<event_queue>(event_capacity);
    }
    m_core = std::make_unique<Coqc_tcp>();
    m_core->set_connection_observer(this);
}

c_client::~c_client() {
    shut_down();
}

void c_client::shut_down() {
    if (!m_core) return;
    {
        std::lock_guard<std::mutex> guard(m_poll_lock);
        m_closing = true;
    }
    if (m_ring) m_ring->close();
    if (m_events) m_events->close();
    {
        std::unique_lock<std::mutex> lock(m_poll_lock);
        m_poll_left.wait(lock, [&] { return m_pollers == 0; });
    }
    m_core.reset();  // the last events come here, into the queues that are still there
}

bool c_client::in_callback() const {
    return t_calling == this;
}

template <class Call>
void c_client::inside(Call call) {
    const c_client* outer = t_calling;
    t_calling = this;
    try {
        call();
    } catch (...) {
        // A C++ application's exception ends here: it must not unwind the library's threads.
    }
    t_calling = outer;
}

// ---- operations ---------------------------------------------------------------------------

int c_client::connect(const char* host, int port) {
    OqsTcpInfo server;
    std::memcpy(server.ServerIp, host, std::strlen(host));  // at most 15 characters, checked
    server.ServerPort = static_cast<std::uint16_t>(port);
    // A refusal still writes the C++ interface's log line.
    const bool allowed = m_core->can_connect();
    if (!m_core->ConnServer(server, this)) return ORVQ_ERR_CONNECT;
    return allowed ? ORVQ_OK : ORVQ_ERR_STATE;
}

int c_client::login(const char* user, const char* password) {
    OrvLoginInfo info;
    std::memcpy(info.UserId, user, std::strlen(user));            // at most 15, checked
    std::memcpy(info.Password, password, std::strlen(password));  // at most 32, checked
    const bool allowed = m_core->can_log_in();
    m_core->LoginToOqs(info);
    return allowed ? ORVQ_OK : ORVQ_ERR_STATE;
}

void c_client::want(char exchange_code, const char* symbol, bool wanted) {
    if (wanted) {
        m_core->RegisterSymbol(exchange_code, symbol);
    } else {
        m_core->UnregisterSymbol(exchange_code, symbol);
    }
}

bool c_client::enter_poll() {
    std::lock_guard<std::mutex> guard(m_poll_lock);
    if (m_closing) return false;
    ++m_pollers;
    return true;
}

// Returns whether the client is closing; the last poller out lets destruction go on, and
// touches nothing of the client once it has let go of the lock.
bool c_client::leave_poll() {
    std::lock_guard<std::mutex> guard(m_poll_lock);
    if (--m_pollers == 0 && m_closing) m_poll_left.notify_all();
    return m_closing;
}

int c_client::pollers() {
    std::lock_guard<std::mutex> guard(m_poll_lock);
    return m_pollers;
}

int c_client::poll_quotes(orvq_quote* quotes, char* codes, std::int64_t* times, int max,
                          int timeout_ms) {
    if (!m_ring) return ORVQ_ERR_NOT_PULL;
    if (!enter_poll()) return ORVQ_ERR_CLOSED;
    const int taken = m_ring->take(quotes, codes, times, max, deadline_of(timeout_ms));
    const bool closing = leave_poll();
    // Quotes taken before the client began to close are still handed over.
    return taken == 0 && closing ? ORVQ_ERR_CLOSED : taken;
}

int c_client::next_event(orvq_event* event, int timeout_ms) {
    if (!m_events) return ORVQ_ERR_NOT_PULL;
    if (!enter_poll()) return ORVQ_ERR_CLOSED;
    const bool taken = m_events->take(event, deadline_of(timeout_ms));
    const bool closing = leave_poll();
    return taken ? 1 : (closing ? ORVQ_ERR_CLOSED : 0);
}

void c_client::get_stats(orvq_stats* stats) const {
    stats->session_ended = m_session_ended.load() ? 1 : 0;
    stats->quotes_received = m_received.load();
    stats->quotes_dropped = m_ring ? m_ring->dropped() : 0;
    stats->reconnects = m_reconnects.load();
    stats->queue_depth = m_ring ? m_ring->depth() : 0;
    stats->events_dropped = m_events ? m_events->dropped() : 0;
}

// ---- events ---------------------------------------------------------------------------------

void c_client::queue(std::int32_t kind, int exchange_code, int value, const char* text) {
    if (m_events) m_events->put(kind, exchange_code, value, text, now_ns());
}

void c_client::OnServerConnected() {
    m_session_ended.store(false);
    if (m_table.on_connected == nullptr) return queue(ORVQ_EVENT_CONNECTED, 0, 0, nullptr);
    inside([&] { m_table.on_connected(m_user); });
}

void c_client::OnServerDisconnected() {
    m_session_ended.store(true);
    if (m_table.on_disconnected == nullptr) return queue(ORVQ_EVENT_DISCONNECTED, 0, 0, nullptr);
    inside([&] { m_table.on_disconnected(m_user); });
}

void c_client::OnLoginReply(bool success, const char* text) {
    if (m_table.on_login_reply == nullptr) {
        return queue(ORVQ_EVENT_LOGIN_REPLY, 0, success ? 1 : 0, text);
    }
    inside([&] { m_table.on_login_reply(m_user, success ? 1 : 0, text); });
}

void c_client::OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) {
    // The receive thread is the only writer: a plain add, not a locked one.
    m_received.store(m_received.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (m_ring) {
        // Every quote of one receive arrived at the same moment: one clock read for them all.
        if (m_receive_ns == 0) m_receive_ns = now_ns();
        return m_ring->push(static_cast<char>(exchange_code), quote, m_receive_ns);
    }
    // Byte for byte the same record (checked where the C interface is exported).
    const auto* record = reinterpret_cast<const orvq_quote*>(quote);
    inside([&] { m_table.on_quote(m_user, exchange_code, record); });
}

void c_client::OnLogText(int level, const char* text, int length) {
    if (m_table.on_log == nullptr) return queue(ORVQ_EVENT_LOG, 0, level, text);
    inside([&] { m_table.on_log(m_user, level, text, length); });
}

void c_client::OnRegisterReply(int exchange_code, const char* symbol, bool success) {
    if (m_table.on_register_reply == nullptr) {
        return queue(ORVQ_EVENT_REGISTER_REPLY, exchange_code, success ? 1 : 0, symbol);
    }
    inside([&] { m_table.on_register_reply(m_user, exchange_code, symbol, success ? 1 : 0); });
}

void c_client::OnUnregisterReply(int exchange_code, const char* symbol, bool success) {
    if (m_table.on_unregister_reply == nullptr) {
        return queue(ORVQ_EVENT_UNREGISTER_REPLY, exchange_code, success ? 1 : 0, symbol);
    }
    inside([&] { m_table.on_unregister_reply(m_user, exchange_code, symbol, success ? 1 : 0); });
}

void c_client::OnSymbolListReply(int exchange_code, const char* symbol, bool last) {
    if (m_table.on_symbol == nullptr) {
        return queue(ORVQ_EVENT_SYMBOL, exchange_code, last ? 1 : 0, symbol);
    }
    inside([&] { m_table.on_symbol(m_user, exchange_code, symbol, last ? 1 : 0); });
}

void c_client::on_connection_lost() {
    if (m_table.on_connection_lost == nullptr) {
        return queue(ORVQ_EVENT_CONNECTION_LOST, 0, 0, nullptr);
    }
    inside([&] { m_table.on_connection_lost(m_user); });
}

void c_client::on_received_end() {
    m_receive_ns = 0;
    if (m_ring) m_ring->publish();
}

void c_client::on_connection_restored() {
    m_reconnects.fetch_add(1);
    if (m_table.on_connection_restored == nullptr) {
        return queue(ORVQ_EVENT_CONNECTION_RESTORED, 0, 0, nullptr);
    }
    inside([&] { m_table.on_connection_restored(m_user); });
}
