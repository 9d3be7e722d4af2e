#include "sim/market_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace sim {

namespace {

// Daily price limits around the previous settlement, as most futures have them.
constexpr double limit_fraction = 0.07;
// The last price stays this many ticks inside the limits, so that all five levels of either
// side of the book lie within them.
constexpr std::int64_t limit_margin = 6;
// Before the volume could overflow its 32-bit field a new trading session starts.
constexpr std::int32_t volume_ceiling = 2000000000;

template <std::size_t N>
void copy_text(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

std::int64_t to_ticks(double price, double tick) {
    return static_cast<std::int64_t>(std::llround(price / tick));
}

double price_of(std::int64_t ticks, const instrument& item) {
    return static_cast<double>(ticks) * item.tick;
}

}  // namespace

double steady_micros() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<double>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

quote_stamp stamp_now() {
    quote_stamp stamp;
    stamp.send_time_us = steady_micros();
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    stamp.millisecond = static_cast<int>(millis % 1000);
    std::tm local{};
    {
        // localtime shares one buffer per process; copy it out under a lock.
        static std::mutex guard;
        std::lock_guard<std::mutex> lock(guard);
        local = *std::localtime(&seconds);
    }
    char day[40];
    char time[40];
    std::snprintf(day, sizeof day, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    stamp.trading_day = day;
    stamp.time_text = time;
    return stamp;
}

market_model::market_model(const std::vector<instrument>& list, std::uint64_t seed)
    : m_list(list), m_books(list.size()), m_random(seed) {
    for (std::size_t i = 0; i < m_list.size(); ++i) {
        open_session(m_books[i], m_list[i], to_ticks(m_list[i].reference_price, m_list[i].tick));
    }
}

std::int64_t market_model::uniform(std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(m_random);
}

// A session already under way: some volume traded, the price somewhere near the open.
void market_model::open_session(book& b, const instrument& item, std::int64_t reference_ticks) {
    b.pre_settlement = reference_ticks;
    const auto band =
        static_cast<std::int64_t>(static_cast<double>(reference_ticks) * limit_fraction);
    b.upper_limit = reference_ticks + band;
    b.lower_limit = reference_ticks - band;
    const auto keep_inside = [&b](std::int64_t ticks) {
        return std::clamp(ticks, b.lower_limit + limit_margin, b.upper_limit - limit_margin);
    };
    b.pre_close = keep_inside(reference_ticks + uniform(-10, 10));
    b.open = keep_inside(b.pre_close + uniform(-20, 20));
    b.last = b.open;
    b.high = keep_inside(b.open + uniform(0, 15));
    b.low = keep_inside(b.open - uniform(0, 15));
    b.volume = static_cast<std::int32_t>(uniform(500, 5000));
    b.turnover = price_of(b.open, item) * b.volume * item.multiplier;
    b.pre_open_interest = item.open_interest;
    b.open_interest = item.open_interest + static_cast<double>(uniform(-500, 500));
    for (std::int32_t& count : b.depth_counts) count = static_cast<std::int32_t>(uniform(1, 300));
}

void market_model::trade(book& b, const instrument& item) {
    const std::int64_t roll = uniform(0, 99);
    std::int64_t move = 0;
    if (roll >= 96) {
        move = roll >= 98 ? 2 : -2;
    } else if (roll >= 40) {
        move = roll < 68 ? 1 : -1;
    }
    b.last = std::clamp(b.last + move, b.lower_limit + limit_margin, b.upper_limit - limit_margin);
    b.high = std::max(b.high, b.last);
    b.low = std::min(b.low, b.last);
    const std::int64_t lots = uniform(1, 30);
    b.volume += static_cast<std::int32_t>(lots);
    b.turnover += price_of(b.last, item) * static_cast<double>(lots) * item.multiplier;
    b.open_interest = std::max(0.0, b.open_interest + static_cast<double>(uniform(-lots, lots)));
}

void market_model::step(book& b, const instrument& item) {
    if (b.volume > volume_ceiling) open_session(b, item, b.last);
    // Seven quotes in ten report a trade; the others only a changed book.
    if (uniform(0, 9) < 7) trade(b, item);
    b.bid_gap = uniform(0, 9) < 8 ? 1 : 2;
    b.ask_gap = uniform(0, 9) < 8 ? 1 : 2;
    for (std::int32_t& count : b.depth_counts) {
        count = static_cast<std::int32_t>(std::max<std::int64_t>(1, count + uniform(-20, 20)));
    }
}

OrvMarketDepthQuoteData market_model::next_quote(std::size_t index, const quote_stamp& stamp) {
    step(m_books[index], m_list[index]);
    return fill(m_books[index], m_list[index], stamp);
}

OrvMarketDepthQuoteData market_model::fill(const book& b, const instrument& item,
                                           const quote_stamp& stamp) const {
    OrvMarketDepthQuoteData q;
    std::memset(&q, 0, sizeof q);
    copy_text(q.TradingDay, stamp.trading_day);
    copy_text(q.Symbol, item.symbol);
    copy_text(q.ExchangeName, item.exchange_name);
    copy_text(q.ExchangeSymbol, item.exchange_symbol);
    q.MarketValue1 = price_of(b.last, item);
    q.MarketValue2 = price_of(b.pre_close, item);
    q.MarketValue3 = price_of(b.open, item);
    q.MarketValue4 = price_of(b.high, item);
    q.MarketValue5 = price_of(b.low, item);
    q.MarketValue6 = b.turnover;
    q.MarketValue7 = b.open_interest;
    q.MarketCount1 = b.volume;
    q.MarketValue8 = price_of(b.pre_settlement, item);
    q.MarketValue9 = b.pre_open_interest;
    q.MarketValue10 = price_of(b.upper_limit, item);
    q.MarketValue11 = price_of(b.lower_limit, item);
    q.MarketValue12 = b.volume > 0 ? b.turnover / b.volume / item.multiplier : 0.0;
    // MarketValue13 to 15 (close, settlement, reserved) stay 0 while the session runs.
    copy_text(q.TimeText, stamp.time_text);
    q.TimeValue = stamp.millisecond;
    for (int level = 0; level < 5; ++level) {
        q.DepthLevels[level].Value = price_of(b.last - b.bid_gap - level, item);
        q.DepthLevels[level].Count = b.depth_counts[level];
        q.DepthLevels[5 + level].Value = price_of(b.last + b.ask_gap + level, item);
        q.DepthLevels[5 + level].Count = b.depth_counts[5 + level];
    }
    q.MarketValue16 = stamp.send_time_us;
    return q;
}

}  // namespace sim
