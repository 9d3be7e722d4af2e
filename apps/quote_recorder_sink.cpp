#include "quote_recorder_sink.h"

#include <chrono>
#include <cstring>

namespace {

// The library tells of a reconnect only in its log: the connection lost while its worker
// runs, then the worker's login on the new connection.
constexpr const char* lost_text = "EVENT_REMOTE_DISCONNECT,thd_is_run:1";
constexpr const char* back_text = "relogin success";

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

template <class Change>
void recorder_sink::change(Change apply) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        apply(m_state);
    }
    m_changed.notify_all();
}

void recorder_sink::OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) {
    if (quote == nullptr) return;
    capture::capture_record record;
    record.receive_ns = now_ns();
    record.exchange_code = static_cast<char>(exchange_code);
    std::memcpy(&record.quote, quote, sizeof record.quote);
    m_received.fetch_add(1);
    m_queue.push(record);  // a full queue counts the quote as dropped
}

void recorder_sink::OnLoginReply(bool success, const char* text) {
    change([&](recorder_state& s) {
        s.login_done = true;
        s.login_ok = success;
        s.login_text = text != nullptr ? text : "";
    });
}

void recorder_sink::OnLogText(int /*level*/, const char* text, int /*length*/) {
    if (text == nullptr) return;
    if (std::strstr(text, lost_text) != nullptr) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lost = true;
    } else if (std::strstr(text, back_text) != nullptr) {
        change([this](recorder_state& s) {
            if (m_lost) ++s.reconnects;
            m_lost = false;
        });
    }
}

void recorder_sink::OnRegisterReply(int /*exchange_code*/, const char* /*symbol*/, bool success) {
    if (success) change([](recorder_state& s) { ++s.registered; });
}

void recorder_sink::OnSymbolListReply(int exchange_code, const char* symbol, bool last) {
    change([&](recorder_state& s) {
        if (last) {
            s.list_done = true;
        } else if (symbol != nullptr) {
            s.symbols.emplace_back(static_cast<char>(exchange_code), symbol);
        }
    });
}

recorder_state recorder_sink::state() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_state;
}

bool recorder_sink::wait_for(const std::function<bool(const recorder_state&)>& condition,
                             int timeout_ms) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [&] { return condition(m_state); });
}
