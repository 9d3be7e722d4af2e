// Internal to the simulator command and the demo. A synthetic market: one random-walk session
// per instrument that yields quote records filled by the field convention of
// docs/quote-fields.md. Used by one thread at a time (the stream's thread, or a test); it owns
// its books and its random generator, no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "orv_quote_api.h"
#include "sim/instruments.h"

namespace sim {

// The time fields of one quote and the moment it leaves the simulator.
struct quote_stamp {
    std::string trading_day;    // "yyyymmdd"
    std::string time_text;      // "HH:MM:SS"
    int millisecond = 0;        // 0 to 999, the part of the second TimeText leaves out
    double send_time_us = 0.0;  // steady_micros() when the quote is built
};

// Microseconds on std::chrono::steady_clock: the clock of MarketValue16. Any thread.
double steady_micros();

// The local wall time now, and steady_micros(), as the stamp of a quote. Any thread.
quote_stamp stamp_now();

// The price walk of every instrument, one book each, from one seeded generator so that a seed
// repeats a whole session. One thread at a time; it owns the books and the generator.
class market_model {
public:
    market_model(const std::vector<instrument>& list, std::uint64_t seed);

    std::size_t size() const { return m_list.size(); }
    const instrument& at(std::size_t index) const { return m_list[index]; }

    // Moves instrument `index` one step (mostly a trade, sometimes only a change of the book)
    // and returns its quote with the given time fields.
    OrvMarketDepthQuoteData next_quote(std::size_t index, const quote_stamp& stamp);

private:
    // One instrument's session in whole ticks, so that every price lies on the tick grid.
    struct book {
        std::int64_t pre_settlement = 0;
        std::int64_t pre_close = 0;
        std::int64_t open = 0;
        std::int64_t last = 0;
        std::int64_t high = 0;
        std::int64_t low = 0;
        std::int64_t upper_limit = 0;
        std::int64_t lower_limit = 0;
        std::int64_t bid_gap = 1;  // ticks from the last price to the best bid
        std::int64_t ask_gap = 1;  // ticks from the last price to the best ask
        std::int32_t volume = 0;
        double turnover = 0.0;
        double open_interest = 0.0;
        double pre_open_interest = 0.0;
        std::int32_t depth_counts[10] = {};
    };

    void open_session(book& b, const instrument& item, std::int64_t reference_ticks);
    void step(book& b, const instrument& item);
    void trade(book& b, const instrument& item);
    OrvMarketDepthQuoteData fill(const book& b, const instrument& item,
                                 const quote_stamp& stamp) const;
    std::int64_t uniform(std::int64_t low, std::int64_t high);

    std::vector<instrument> m_list;
    std::vector<book> m_books;
    std::mt19937_64 m_random;
};

}  // namespace sim
