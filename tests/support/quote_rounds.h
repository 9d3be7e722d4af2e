// Test support: a round of quotes for what one connection of the simulator has registered,
// each marked with the connection's number and the round ("12:3" in TradingDay), so that a
// client can tell which connection and which round a quote it received came from.
#pragma once

#include <cstdio>
#include <string>

#include "sim/messages.h"
#include "sim/quote_server.h"
#include "sim/sample_data.h"

// The quotes sent, one per registered symbol; 0 when the connection is not open.
inline std::uint64_t send_quote_round(sim::quote_server& server, std::size_t connection,
                                      int round) {
    return server.send_for_session(connection, [&](const sim::session& state, std::string& out) {
        std::uint64_t count = 0;
        for (const sim::symbol_entry& entry : sim::sample_symbols()) {
            if (state.registered.count(entry.symbol) == 0) continue;
            OrvMarketDepthQuoteData quote = sim::make_quote(entry.symbol, round);
            std::snprintf(quote.TradingDay, sizeof quote.TradingDay, "%u:%d",
                          static_cast<unsigned>(connection % 1000), round % 100);
            out += sim::quote_bytes(entry.exchange_code, quote);
            ++count;
        }
        return count;
    });
}

// The connection a marked quote came from.
inline std::size_t quote_connection(const OrvMarketDepthQuoteData& quote) {
    return static_cast<std::size_t>(std::strtoul(quote.TradingDay, nullptr, 10));
}
