// Internal to the simulator and its tests. Plausible data for a server to offer: a symbol list
// and quotes. Plain values and functions: safe from any thread.
#pragma once

#include <string>
#include <vector>

#include "orv_quote_api.h"

namespace sim {

// One entry of the server's symbol list: the exchange code the server chose and the wire text.
struct symbol_entry {
    char exchange_code = 0;
    std::string symbol;
};

// The five metal contracts under their one-character wire codes "0" to "4" (exchange code '1')
// and two plain symbols "SIMA01" and "SIMB02" (exchange code '2').
std::vector<symbol_entry> sample_symbols();

// A quote for `symbol` (written to Symbol and ExchangeSymbol, cut to 30 characters): trading
// day "20240105", exchange name "SIMEX", and numbers derived from `sequence` so that successive
// quotes differ and every field holds something other than zero.
OrvMarketDepthQuoteData make_quote(const std::string& symbol, int sequence = 0);

}  // namespace sim
