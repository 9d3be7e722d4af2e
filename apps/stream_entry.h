// Internal to quote_bridge and its tests: what goes into Redis. One stream per symbol,
// PREFIX:q:SYMBOL, an entry per quote with the record exactly as OnQuote delivered it, and one
// stream PREFIX:events for what happened to the session; each entry leaves as an XADD in the
// protocol's own form (an array of bulk strings), appended to a buffer so that a batch of them
// goes out in one write. docs/bridge.md describes the layout for consumers. Plain values and
// functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_file.h"

// The field names of a quote's entry.
constexpr const char* field_quote = "quote";        // the 345-byte record
constexpr const char* field_exchange = "exchange";  // the exchange code, one character
constexpr const char* field_symbol = "symbol";      // the record's symbol text
constexpr const char* field_receive = "recv_ns";    // receive time, ns since 1970 UTC

// The keys: PREFIX:q:SYMBOL and PREFIX:events.
constexpr const char* quote_key_infix = ":q:";
constexpr const char* events_key_suffix = ":events";

// Where entries go and how long the streams may grow.
struct stream_layout {
    std::string prefix;
    std::uint64_t maxlen = 0;  // about this many entries per stream; 0: untrimmed
};

// One entry of the events stream: its name ("logged_in", "redis_restored", ...), when it
// happened, a text for people and numbers for programs (name, decimal value).
struct stream_event {
    std::string name;
    std::int64_t time_ns = 0;
    std::string text;
    std::vector<std::pair<std::string, std::uint64_t>> numbers;
};

// Append one XADD to `out`.
void append_quote_entry(std::string& out, const stream_layout& layout,
                        const capture::capture_record& record);
void append_event_entry(std::string& out, const stream_layout& layout, const stream_event& event);
