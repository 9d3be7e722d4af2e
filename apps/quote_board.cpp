#include "quote_board.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// Enough for a long run; later quotes are counted but not timed.
constexpr std::size_t max_latency_samples = 1000000;
constexpr std::size_t max_log_lines = 2000;

std::string text_of(const char* field, std::size_t width) {
    std::size_t length = 0;
    while (length < width && field[length] != '\0') ++length;
    return std::string(field, length);
}

double steady_micros() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<double>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

}  // namespace

void quote_board::changed() {
    m_changed.notify_all();
}

void quote_board::OnServerConnected() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_state.connected = true;
    }
    changed();
}

void quote_board::OnServerDisconnected() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_state.connected = false;
    }
    changed();
}

void quote_board::OnLoginReply(bool success, const char* text) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_state.login_done = true;
        m_state.login_ok = success;
        m_state.login_text = text != nullptr ? text : "";
    }
    changed();
}

void quote_board::OnQuote(int /*exchange_code*/, const OrvMarketDepthQuoteData* quote) {
    const double arrived = steady_micros();
    // The record is packed and lives in the library's buffer only during this call: copy the
    // fields out by value first, and keep no pointer.
    const std::string symbol = text_of(quote->Symbol, sizeof quote->Symbol);
    quote_row fresh;
    fresh.last = quote->MarketValue1;
    fresh.bid = quote->DepthLevels[0].Value;
    fresh.ask = quote->DepthLevels[5].Value;
    fresh.volume = quote->MarketCount1;
    const std::int32_t millis = quote->TimeValue;
    char time[32];
    std::snprintf(time, sizeof time, "%s.%03d",
                  text_of(quote->TimeText, sizeof quote->TimeText).c_str(),
                  static_cast<int>(millis));
    fresh.time = time;
    const double sent = quote->MarketValue16;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        quote_row& row = m_state.rows[symbol];
        fresh.quotes = row.quotes + 1;
        row = fresh;
        ++m_state.quotes;
        if (m_latencies.size() < max_latency_samples) m_latencies.push_back(arrived - sent);
    }
    changed();
}

void quote_board::on_session_event(session_event event) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (event == session_event::connection_lost) m_state.reconnecting = true;
        if (event == session_event::connection_restored) {
            m_state.reconnecting = false;
            ++m_state.reconnects;
        }
    }
    changed();
}

void quote_board::OnLogText(int /*level*/, const char* text, int length) {
    m_events.on_log_line(text);
    if (!m_keep_log || text == nullptr) return;
    const std::string line(text, static_cast<std::size_t>(length > 0 ? length : 0));
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_log_lines.size() < max_log_lines) m_log_lines.push_back(line);
    }
    changed();
}

void quote_board::OnRegisterReply(int /*exchange_code*/, const char* symbol, bool success) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_state.registered[symbol != nullptr ? symbol : ""] = success;
    }
    changed();
}

void quote_board::OnSymbolListReply(int exchange_code, const char* symbol, bool last) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (last) {
            m_state.list_done = true;
        } else {
            m_state.symbols.emplace_back(exchange_code, symbol != nullptr ? symbol : "");
        }
    }
    changed();
}

void quote_board::show(const std::string& symbol) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_state.rows[symbol];
    }
    changed();
}

void quote_board::add_log_line(const std::string& line) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_log_lines.size() < max_log_lines) m_log_lines.push_back(line);
    }
    changed();
}

board_state quote_board::state() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_state;
}

std::vector<std::string> quote_board::take_log_lines() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> lines;
    lines.swap(m_log_lines);
    return lines;
}

std::vector<double> quote_board::latencies() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_latencies;
}

bool quote_board::wait_for(const std::function<bool(const board_state&)>& condition,
                           int timeout_ms) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [&] { return condition(m_state); });
}
