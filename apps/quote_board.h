// The demo's event object: it copies what the library reports (login outcome, symbol list,
// quotes, log lines) into a board that the main thread reads and draws. Library threads call
// the On... operations; the main thread takes snapshots. One mutex guards the whole board and
// is never held while the library is called.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "orv_quote_api.h"
#include "session_events.h"

// One line of the live table, in the field convention of docs/quote-fields.md.
struct quote_row {
    double last = 0;
    double bid = 0;           // best bid: DepthLevels[0]
    double ask = 0;           // best ask: DepthLevels[5]
    std::int32_t volume = 0;  // MarketCount1
    std::string time;         // TimeText and TimeValue as "HH:MM:SS.mmm"
    std::uint64_t quotes = 0;
};

// What the main thread sees of the board at one moment.
struct board_state {
    bool connected = false;
    bool login_done = false;
    bool login_ok = false;
    std::string login_text;
    bool list_done = false;
    std::vector<std::pair<int, std::string>> symbols;  // (exchange code, display name)
    std::map<std::string, quote_row> rows;             // by display name
    std::map<std::string, bool> registered;            // register replies, by display name
    std::uint64_t quotes = 0;
    int reconnects = 0;
    bool reconnecting = false;
};

// The sink the library calls on its threads; each call copies what it needs under m_lock and
// returns. The main thread reads copies (state(), take_log_lines()) under the same lock.
class quote_board : public OrvQuoteEventSink {
public:
    // keep_log: queue every log line for the screen (--verbose); reconnects are counted anyway.
    explicit quote_board(bool keep_log) : m_keep_log(keep_log) {}

    void OnServerConnected() override;
    void OnServerDisconnected() override;
    void OnLoginReply(bool success, const char* text) override;
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override;
    void OnLogText(int level, const char* text, int length) override;
    void OnRegisterReply(int exchange_code, const char* symbol, bool success) override;
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override;

    // A row for `symbol` from now on, even before its first quote.
    void show(const std::string& symbol);
    // A line of the demo's own (the embedded simulator's events) among the log lines.
    void add_log_line(const std::string& line);

    board_state state() const;
    // The log lines queued since the last call.
    std::vector<std::string> take_log_lines();
    // Microseconds from each quote's send time (MarketValue16) to its arrival here.
    std::vector<double> latencies() const;

    // Waits until `condition` holds for the board, at most timeout_ms; its last answer.
    bool wait_for(const std::function<bool(const board_state&)>& condition, int timeout_ms) const;

private:
    void changed();
    void on_session_event(session_event event);

    const bool m_keep_log;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    board_state m_state;
    std::vector<std::string> m_log_lines;
    std::vector<double> m_latencies;
    // Tells reconnects from the library's log lines; last, as it calls on_session_event.
    session_events m_events{[this](session_event event, int) { on_session_event(event); }};
};
