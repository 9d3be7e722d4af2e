// Internal to the simulator command and the demo. The market the simulator offers: the five
// gold and silver contracts under their wire codes and a dozen ordinary futures, each with the
// exchange code it is listed under and the numbers a price walk needs. Plain values and
// functions: safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sim {

// One tradable symbol as the simulator lists and quotes it.
struct instrument {
    char exchange_code = 0;        // the one-character code of the symbol list and replies
    std::string symbol;            // the wire text: a code "0" to "4" or a futures code
    std::string exchange_symbol;   // the name the exchange uses ("Au(T+D)" for code "0")
    std::string exchange_name;     // "SGE", "SHFE", ...
    double tick = 0.01;            // the smallest price step
    double multiplier = 1.0;       // units per lot: turnover = price * lots * multiplier
    double reference_price = 0.0;  // the previous settlement price the walk starts from
    double open_interest = 0.0;    // lots open at the start
};

// The simulator's whole list: codes "0" to "4" (exchange code 'G') first, then the futures.
// No futures code starts with a digit, so none of them is mistaken for a metal code.
const std::vector<instrument>& default_instruments();

// The position of `symbol` (wire text) in `list`, or list.size() when it is not there.
std::size_t find_instrument(const std::vector<instrument>& list, const std::string& symbol);

}  // namespace sim
