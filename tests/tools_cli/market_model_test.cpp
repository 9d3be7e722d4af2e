// The synthetic market: every quote obeys the field convention, a session only moves forward
// (volume, turnover, the day's range), prices stay on the tick grid, and the walk is
// reproducible from its seed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "quote_checks.h"
#include "sim/market_model.h"

namespace {

using tools_cli_test::consistent;
using tools_cli_test::field_text;
using tools_cli_test::numbers_of;
using tools_cli_test::quote_numbers;

sim::quote_stamp fixed_stamp() {
    sim::quote_stamp stamp;
    stamp.trading_day = "20250314";
    stamp.time_text = "10:15:30";
    stamp.millisecond = 250;
    stamp.send_time_us = 123456789.0;
    return stamp;
}

bool on_grid(double price, double tick) {
    const double steps = price / tick;
    return std::fabs(steps - std::round(steps)) < 1e-6;
}

TEST(market_model, every_quote_follows_the_convention_and_the_session_only_moves_forward) {
    const auto& list = sim::default_instruments();
    sim::market_model market(list, 42);
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(list[i].symbol);
        const quote_numbers first = numbers_of(market.next_quote(i, fixed_stamp()));
        quote_numbers previous = first;
        std::set<double> lasts;
        for (int n = 0; n < 1500; ++n) {
            const OrvMarketDepthQuoteData q = market.next_quote(i, fixed_stamp());
            ASSERT_TRUE(consistent(q)) << "quote " << n;
            const quote_numbers now = numbers_of(q);
            ASSERT_GE(now.volume, previous.volume);
            ASSERT_GE(now.turnover, previous.turnover);
            ASSERT_GE(now.high, previous.high);
            ASSERT_LE(now.low, previous.low);
            ASSERT_EQ(now.open, first.open);
            ASSERT_EQ(now.pre_close, first.pre_close);
            ASSERT_EQ(now.pre_settlement, first.pre_settlement);
            ASSERT_GE(now.open_interest, 0.0);
            ASSERT_TRUE(on_grid(now.last, list[i].tick)) << now.last;
            ASSERT_TRUE(on_grid(now.deepest_ask, list[i].tick)) << now.deepest_ask;
            lasts.insert(now.last);
            previous = now;
        }
        EXPECT_GT(lasts.size(), 3u) << "the last price hardly moves";
        EXPECT_GT(previous.volume, first.volume);
    }
}

TEST(market_model, texts_and_stamp_go_where_the_convention_puts_them) {
    const auto& list = sim::default_instruments();
    sim::market_model market(list, 7);
    const OrvMarketDepthQuoteData gold = market.next_quote(0, fixed_stamp());
    EXPECT_EQ(field_text(gold.Symbol, sizeof gold.Symbol), "0");  // the wire code
    EXPECT_EQ(field_text(gold.ExchangeSymbol, sizeof gold.ExchangeSymbol), "Au(T+D)");
    EXPECT_EQ(field_text(gold.ExchangeName, sizeof gold.ExchangeName), "SGE");
    EXPECT_EQ(field_text(gold.TradingDay, sizeof gold.TradingDay), "20250314");
    EXPECT_EQ(field_text(gold.TimeText, sizeof gold.TimeText), "10:15:30");
    const quote_numbers n = numbers_of(gold);
    EXPECT_EQ(n.time_value, 250);
    EXPECT_EQ(n.send_time, 123456789.0);
    EXPECT_EQ(n.close, 0.0);  // no close or settlement while the session runs
    EXPECT_EQ(n.settlement, 0.0);
    EXPECT_EQ(n.reserved, 0.0);
    EXPECT_NEAR(n.pre_settlement, list[0].reference_price, 1e-9);
    const double upper = gold.MarketValue10, lower = gold.MarketValue11;
    EXPECT_LT(lower, n.pre_settlement);  // limits around the pre-settlement
    EXPECT_GT(upper, n.pre_settlement);
}

TEST(market_model, the_walk_is_reproducible_from_its_seed) {
    const auto& list = sim::default_instruments();
    sim::market_model a(list, 99), b(list, 99), c(list, 100);
    bool differs = false;
    for (int n = 0; n < 50; ++n) {
        const OrvMarketDepthQuoteData qa = a.next_quote(1, fixed_stamp());
        const OrvMarketDepthQuoteData qb = b.next_quote(1, fixed_stamp());
        const OrvMarketDepthQuoteData qc = c.next_quote(1, fixed_stamp());
        ASSERT_EQ(std::memcmp(&qa, &qb, sizeof qa), 0) << "quote " << n;
        differs |= std::memcmp(&qa, &qc, sizeof qa) != 0;
    }
    EXPECT_TRUE(differs);
}

}  // namespace
