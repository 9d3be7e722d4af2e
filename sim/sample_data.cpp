#include "sim/sample_data.h"

#include <cstddef>
#include <cstring>

namespace sim {

namespace {

template <std::size_t N>
void copy_text(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N - 1);
}

}  // namespace

std::vector<symbol_entry> sample_symbols() {
    return {{'1', "0"}, {'1', "1"},      {'1', "2"},     {'1', "3"},
            {'1', "4"}, {'2', "SIMA01"}, {'2', "SIMB02"}};
}

OrvMarketDepthQuoteData make_quote(const std::string& symbol, int sequence) {
    OrvMarketDepthQuoteData quote;
    std::memset(&quote, 0, sizeof quote);
    copy_text(quote.TradingDay, "20240105");
    copy_text(quote.Symbol, symbol);
    copy_text(quote.ExchangeName, "SIMEX");
    copy_text(quote.ExchangeSymbol, symbol);
    const double base = 400.0 + sequence * 0.25;
    // The fields are packed, so they are written through their offsets, not through pointers.
    const std::size_t offsets[] = {offsetof(OrvMarketDepthQuoteData, MarketValue1),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue2),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue3),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue4),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue5),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue6),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue7),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue8),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue9),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue10),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue11),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue12),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue13),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue14),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue15),
                                   offsetof(OrvMarketDepthQuoteData, MarketValue16)};
    auto* bytes = reinterpret_cast<unsigned char*>(&quote);
    for (std::size_t i = 0; i < sizeof offsets / sizeof offsets[0]; ++i) {
        const double value = base + static_cast<double>(i);
        std::memcpy(bytes + offsets[i], &value, sizeof value);
    }
    quote.MarketCount1 = 1000 + sequence;
    const int seconds = 9 * 3600 + sequence;
    const std::string time = std::to_string(100 + seconds / 3600 % 24).substr(1) + ":" +
                             std::to_string(100 + seconds / 60 % 60).substr(1) + ":" +
                             std::to_string(100 + seconds % 60).substr(1);
    copy_text(quote.TimeText, time);
    quote.TimeValue = sequence % 1000;
    for (int level = 0; level < 10; ++level) {
        quote.DepthLevels[level].Value = base + (level < 5 ? -0.5 : 0.5) * (level % 5 + 1);
        quote.DepthLevels[level].Count = 10 * (level + 1) + sequence;
    }
    return quote;
}

}  // namespace sim
