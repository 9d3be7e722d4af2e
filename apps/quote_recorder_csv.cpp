#include "quote_recorder_csv.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

// Days since 1970-01-01 as a civil date (proleptic Gregorian), without the C library's
// calendar functions, which are neither thread-safe nor alike on every platform.
void civil_from_days(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t of_era = days - era * 146097;
    const std::int64_t year_of_era =
        (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
    const std::int64_t day_of_year =
        of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
    day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
}

void append_number(double value, std::string& out) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

void append_number(std::int64_t value, std::string& out) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

// A text field up to its first NUL; quoted, with its quotes doubled, when a reader could
// otherwise take it apart.
void append_text(const char* field, std::size_t width, std::string& out) {
    const std::string text = capture::field_text(field, width);
    const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// The record's columns after the receive time and the exchange code, in record order.
const char* const quote_columns =
    "TradingDay,Symbol,ExchangeName,ExchangeSymbol,MarketValue1,MarketValue2,MarketValue3,"
    "MarketValue4,MarketValue5,MarketValue6,MarketValue7,MarketCount1,MarketValue8,MarketValue9,"
    "MarketValue10,MarketValue11,MarketValue12,MarketValue13,MarketValue14,MarketValue15,"
    "TimeText,TimeValue";

}  // namespace

std::string utc_text(std::int64_t ns, int digits) {
    constexpr std::int64_t ns_per_day = 86400LL * 1000000000LL;
    std::int64_t days = ns / ns_per_day;
    std::int64_t in_day = ns % ns_per_day;
    if (in_day < 0) {
        in_day += ns_per_day;
        --days;
    }
    int year = 0, month = 0, day = 0;
    civil_from_days(days, year, month, day);
    const std::int64_t seconds = in_day / 1000000000;
    char text[48];
    int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
                               static_cast<int>(seconds / 3600),
                               static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    if (digits > 0) {
        char fraction[16];
        std::snprintf(fraction, sizeof fraction, "%09lld",
                      static_cast<long long>(in_day % 1000000000));
        length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                                ".%.*s", digits > 9 ? 9 : digits, fraction);
    }
    return text;
}

std::string csv_header() {
    std::string header = "ReceiveTimeUtc,ReceiveTimeNs,ExchangeCode,";
    header += quote_columns;
    for (int level = 0; level < 10; ++level) {
        const std::string name = "Depth" + std::to_string(level);
        header += "," + name + "Value," + name + "Count";
    }
    return header + ",MarketValue16\n";
}

void append_csv_row(const capture::capture_record& record, std::string& row) {
    const OrvMarketDepthQuoteData& q = record.quote;
    row += utc_text(record.receive_ns, 6);
    row += ',';
    append_number(record.receive_ns, row);
    row += ',';
    const char code = record.exchange_code;
    if (code > ' ' && code < 127 && code != ',' && code != '"') {
        row += code;
    } else {
        append_number(static_cast<std::int64_t>(code), row);
    }
    const auto text = [&row](const char* field, std::size_t width) {
        row += ',';
        append_text(field, width, row);
    };
    const auto number = [&row](auto value) {
        row += ',';
        append_number(value, row);
    };
    text(q.TradingDay, sizeof q.TradingDay);
    text(q.Symbol, sizeof q.Symbol);
    text(q.ExchangeName, sizeof q.ExchangeName);
    text(q.ExchangeSymbol, sizeof q.ExchangeSymbol);
    for (double value : {q.MarketValue1, q.MarketValue2, q.MarketValue3, q.MarketValue4,
                         q.MarketValue5, q.MarketValue6, q.MarketValue7}) {
        number(value);
    }
    number(static_cast<std::int64_t>(q.MarketCount1));
    for (double value : {q.MarketValue8, q.MarketValue9, q.MarketValue10, q.MarketValue11,
                         q.MarketValue12, q.MarketValue13, q.MarketValue14, q.MarketValue15}) {
        number(value);
    }
    text(q.TimeText, sizeof q.TimeText);
    number(static_cast<std::int64_t>(q.TimeValue));
    for (const OrvDepthLevel& level : q.DepthLevels) {
        number(static_cast<double>(level.Value));
        number(static_cast<std::int64_t>(level.Count));
    }
    number(static_cast<double>(q.MarketValue16));
    row += '\n';
}

csv_file::~csv_file() {
    close();
}

bool csv_file::put(const std::string& text) {
    if (m_file == nullptr) return false;
    if (std::fwrite(text.data(), 1, text.size(), m_file) == text.size()) return true;
    if (m_error.empty()) m_error = m_path + ": " + std::strerror(errno);
    return false;
}

bool csv_file::open(const std::string& path) {
    m_path = path;
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr) {
        m_error = path + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(m_file, nullptr, _IOFBF, 1 << 16);
    return put(csv_header());
}

bool csv_file::write(const capture::capture_record& record) {
    m_row.clear();
    append_csv_row(record, m_row);
    return put(m_row);
}

bool csv_file::flush() {
    if (m_file == nullptr || std::fflush(m_file) == 0) return m_file != nullptr;
    if (m_error.empty()) m_error = m_path + ": " + std::strerror(errno);
    return false;
}

bool csv_file::close() {
    if (m_file == nullptr) return m_error.empty();
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!closed && m_error.empty()) m_error = m_path + ": " + std::strerror(errno);
    return m_error.empty();
}
