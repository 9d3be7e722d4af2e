// Internal to the programs we ship: the event object of quote_recorder and quote_bridge. Every
// quote is stamped with its receive time and handed to the capture queue at once, so that the
// library's receive thread never waits for a disk or a network; the rest (login, symbol list,
// registrations, the session's events) is kept for the main thread to wait on, and the
// session's events also go to whoever asked for them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "guarded_state.h"
#include "orv_quote_api.h"
#include "session_events.h"
#include "capture/capture_queue.h"

// What the main thread sees of the session at one moment.
struct session_state {
    bool login_done = false;
    bool login_ok = false;
    std::string login_text;
    bool list_done = false;
    std::vector<std::pair<char, std::string>> symbols;  // (exchange code, display name)
    int registered = 0;                                 // accepted register replies
    int reconnects = 0;
    bool ended = false;  // the library gave the session up after a lost connection
};

// Library threads call the On... operations. Quotes touch only the queue and an atomic count;
// the state has a lock of its own (guarded_state), never held while a quote is queued.
class session_sink : public OrvQuoteEventSink {
public:
    // `on_event`, when given, gets every session event (on a library thread, see
    // session_events) after the state has taken it in.
    explicit session_sink(capture::capture_queue& queue,
                          session_events::emit_fn on_event = nullptr);

    void OnLoginReply(bool success, const char* text) override;
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override;
    void OnLogText(int level, const char* text, int length) override;
    void OnRegisterReply(int exchange_code, const char* symbol, bool success) override;
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override;

    session_state state() const { return m_state.copy(); }
    // Waits until `condition` holds, at most timeout_ms; its last answer. Main thread.
    bool wait_for(const std::function<bool(const session_state&)>& condition,
                  int timeout_ms) const {
        return m_state.wait_for(condition, timeout_ms);
    }

    std::uint64_t received() const { return m_received.load(); }

private:
    void on_session_event(session_event event, int count);

    capture::capture_queue& m_queue;
    const session_events::emit_fn m_forward;
    std::atomic<std::uint64_t> m_received{0};
    guarded_state<session_state> m_state;
    session_events m_events;  // last: it calls on_session_event, which uses the members above
};

// Nanoseconds since 1970 UTC, now.
std::int64_t wall_clock_ns();
