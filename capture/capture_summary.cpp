#include "capture/capture_summary.h"

#include <unordered_map>

#include "capture/capture_reader.h"

namespace capture {

namespace {

capture_symbol first_seen(const capture_record& record) {
    capture_symbol entry;
    entry.symbol = symbol_of(record.quote);
    entry.exchange_code = record.exchange_code;
    entry.exchange_name = field_text(record.quote.ExchangeName, sizeof record.quote.ExchangeName);
    entry.exchange_symbol =
        field_text(record.quote.ExchangeSymbol, sizeof record.quote.ExchangeSymbol);
    entry.first_ns = record.receive_ns;
    return entry;
}

}  // namespace

capture_summary summarize_capture(const std::string& path) {
    capture_summary summary;
    capture_reader reader;
    if (!reader.open(path)) {
        summary.error = reader.error();
        return summary;
    }
    summary.header = reader.header();
    std::unordered_map<std::string, std::size_t> positions;
    capture_record record;
    std::int64_t previous_ns = 0;
    while (reader.next(record)) {
        if (summary.quotes > 0 && record.receive_ns - previous_ns > summary.longest_gap_ns) {
            summary.longest_gap_ns = record.receive_ns - previous_ns;
            summary.gap_start_ns = previous_ns;
        }
        previous_ns = record.receive_ns;
        const auto found = positions.emplace(symbol_of(record.quote), summary.symbols.size());
        if (found.second) summary.symbols.push_back(first_seen(record));
        capture_symbol& entry = summary.symbols[found.first->second];
        ++entry.quotes;
        entry.last_ns = record.receive_ns;
        ++summary.quotes;
    }
    summary.error = reader.error();
    summary.cut_short = reader.cut_short();
    return summary;
}

}  // namespace capture
