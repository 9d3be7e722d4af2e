// Test support: the field convention of docs/quote-fields.md as checks on one quote record,
// so that the model's tests and the end-to-end tests hold quotes to the same rules.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "orv_quote_api.h"

namespace tools_cli_test {

inline std::string field_text(const char* field, std::size_t width) {
    return std::string(field, strnlen(field, width));
}

// The record's numbers as plain values: the record is packed, so its fields cannot be bound
// to the references that the comparison macros take.
struct quote_numbers {
    double last, pre_close, open, high, low, turnover, open_interest, pre_settlement;
    double close, settlement, reserved, send_time, deepest_ask;
    std::int32_t volume, time_value;
};

inline quote_numbers numbers_of(const OrvMarketDepthQuoteData& q) {
    return {q.MarketValue1,         q.MarketValue2,  q.MarketValue3,  q.MarketValue4,
            q.MarketValue5,         q.MarketValue6,  q.MarketValue7,  q.MarketValue8,
            q.MarketValue13,        q.MarketValue14, q.MarketValue15, q.MarketValue16,
            q.DepthLevels[9].Value, q.MarketCount1,  q.TimeValue};
}

// Holds when the record obeys the convention on its own: the book around the last price,
// the day's range, limits and the time texts.
inline ::testing::AssertionResult consistent(const OrvMarketDepthQuoteData& q) {
    const double last = q.MarketValue1, open = q.MarketValue3, high = q.MarketValue4,
                 low = q.MarketValue5, upper = q.MarketValue10, lower = q.MarketValue11;
    const double best_bid = q.DepthLevels[0].Value, best_ask = q.DepthLevels[5].Value;
    auto fail = [&](const char* what) {
        return ::testing::AssertionFailure()
               << what << " (last " << last << ", bid " << best_bid << ", ask " << best_ask
               << ", high " << high << ", low " << low << ", open " << open << ")";
    };
    if (!(best_bid < last && last < best_ask)) return fail("bid < last < ask broken");
    if (!(low <= last && last <= high)) return fail("low <= last <= high broken");
    if (!(low <= open && open <= high)) return fail("low <= open <= high broken");
    for (int level = 1; level < 5; ++level) {
        if (!(q.DepthLevels[level].Value < q.DepthLevels[level - 1].Value)) {
            return fail("bids not best first");
        }
        if (!(q.DepthLevels[5 + level].Value > q.DepthLevels[4 + level].Value)) {
            return fail("asks not best first");
        }
    }
    for (int level = 0; level < 10; ++level) {
        if (q.DepthLevels[level].Count <= 0) return fail("empty depth level");
    }
    if (!(lower <= q.DepthLevels[4].Value && q.DepthLevels[9].Value <= upper)) {
        return fail("book outside the price limits");
    }
    const double average = q.MarketValue12;
    const double slack = 1e-9 * high;
    if (!(q.MarketCount1 > 0 && low <= average + slack && average <= high + slack)) {
        return fail("average price outside the day's range");
    }
    const std::string time = field_text(q.TimeText, sizeof q.TimeText);
    if (time.size() != 8 || time[2] != ':' || time[5] != ':') return fail("TimeText not HH:MM:SS");
    if (q.TimeValue < 0 || q.TimeValue > 999) return fail("TimeValue not 0..999");
    const std::string day = field_text(q.TradingDay, sizeof q.TradingDay);
    if (day.size() != 8 || day.find_first_not_of("0123456789") != std::string::npos) {
        return fail("TradingDay not yyyymmdd");
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tools_cli_test
