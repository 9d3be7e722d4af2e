// quote_recorder's event object. Every quote is stamped with its receive time and handed to
// the capture queue at once, so that the library's receive thread never waits for a disk; the
// rest (login, symbol list, registrations, reconnects) is kept for the main thread to wait on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "orv_quote_api.h"
#include "capture/capture_queue.h"

// What the main thread sees of the session at one moment.
struct recorder_state {
    bool login_done = false;
    bool login_ok = false;
    std::string login_text;
    bool list_done = false;
    std::vector<std::pair<char, std::string>> symbols;  // (exchange code, display name)
    int registered = 0;                                 // accepted register replies
    int reconnects = 0;
};

// Library threads call the On... operations. Quotes touch only the queue and an atomic count;
// m_lock guards the state and is never held while the library is called or a quote is queued.
class recorder_sink : public OrvQuoteEventSink {
public:
    explicit recorder_sink(capture::capture_queue& queue) : m_queue(queue) {}

    void OnLoginReply(bool success, const char* text) override;
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override;
    void OnLogText(int level, const char* text, int length) override;
    void OnRegisterReply(int exchange_code, const char* symbol, bool success) override;
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override;

    recorder_state state() const;
    // Waits until `condition` holds, at most timeout_ms; its last answer. Main thread.
    bool wait_for(const std::function<bool(const recorder_state&)>& condition,
                  int timeout_ms) const;

    std::uint64_t received() const { return m_received.load(); }

private:
    template <class Change>
    void change(Change apply);

    capture::capture_queue& m_queue;
    std::atomic<std::uint64_t> m_received{0};
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    recorder_state m_state;
    bool m_lost = false;  // a lost connection the library's worker is restoring
};
