#include "session_sink.h"

#include <chrono>
#include <cstring>

std::int64_t wall_clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

session_sink::session_sink(capture::capture_queue& queue, session_events::emit_fn on_event)
    : m_queue(queue),
      m_forward(std::move(on_event)),
      m_events([this](session_event event, int count) { on_session_event(event, count); }) {}

void session_sink::on_session_event(session_event event, int count) {
    m_state.change([event](session_state& s) {
        if (event == session_event::connection_restored) ++s.reconnects;
        if (event == session_event::session_ended) s.ended = true;
    });
    if (m_forward) m_forward(event, count);
}

void session_sink::OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) {
    if (quote == nullptr) return;
    capture::capture_record record;
    record.receive_ns = wall_clock_ns();
    record.exchange_code = static_cast<char>(exchange_code);
    std::memcpy(&record.quote, quote, sizeof record.quote);
    m_received.fetch_add(1);
    m_queue.push(record);  // a full queue counts the quote as dropped
}

void session_sink::OnLoginReply(bool success, const char* text) {
    m_state.change([&](session_state& s) {
        s.login_done = true;
        s.login_ok = success;
        s.login_text = text != nullptr ? text : "";
    });
    m_events.on_login_reply(success);
}

void session_sink::OnLogText(int /*level*/, const char* text, int /*length*/) {
    m_events.on_log_line(text);
}

void session_sink::OnRegisterReply(int /*exchange_code*/, const char* /*symbol*/, bool success) {
    if (success) m_state.change([](session_state& s) { ++s.registered; });
    m_events.on_register_reply(success);
}

void session_sink::OnSymbolListReply(int exchange_code, const char* symbol, bool last) {
    m_state.change([&](session_state& s) {
        if (last) {
            s.list_done = true;
        } else if (symbol != nullptr) {
            s.symbols.emplace_back(static_cast<char>(exchange_code), symbol);
        }
    });
}
