#include "stream_entry.h"

#include <charconv>
#include <cstring>

namespace {

// The parts of an XADD in the protocol's form: "*<n>\r\n", then "$<length>\r\n<bytes>\r\n"
// for each argument. Numbers are written without a heap allocation: a batch holds thousands.
void append_count(std::string& out, char kind, std::uint64_t n) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, n);
    out += kind;
    out.append(digits, end.ptr);
    out += "\r\n";
}

void append_bulk(std::string& out, const char* bytes, std::size_t length) {
    append_count(out, '$', length);
    out.append(bytes, length);
    out += "\r\n";
}

void append_bulk(std::string& out, const char* text) {
    append_bulk(out, text, std::strlen(text));
}

void append_bulk(std::string& out, const std::string& text) {
    append_bulk(out, text.data(), text.size());
}

void append_bulk_number(std::string& out, std::uint64_t n) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, n);
    append_bulk(out, digits, static_cast<std::size_t>(end.ptr - digits));
}

// "XADD PREFIX<infix><tail> [MAXLEN ~ n] *", to be followed by `fields` field-value pairs.
void append_head(std::string& out, const stream_layout& layout, const char* infix, const char* tail,
                 std::size_t tail_length, std::size_t fields) {
    append_count(out, '*', 3 + (layout.maxlen > 0 ? 3 : 0) + 2 * fields);
    append_bulk(out, "XADD");
    const std::size_t infix_length = std::strlen(infix);
    append_count(out, '$', layout.prefix.size() + infix_length + tail_length);
    out += layout.prefix;
    out.append(infix, infix_length);
    out.append(tail, tail_length);
    out += "\r\n";
    if (layout.maxlen > 0) {
        append_bulk(out, "MAXLEN");
        append_bulk(out, "~");
        append_bulk_number(out, layout.maxlen);
    }
    append_bulk(out, "*");
}

}  // namespace

void append_quote_entry(std::string& out, const stream_layout& layout,
                        const capture::capture_record& record) {
    // An unterminated symbol (a server's bad data) is taken at its full width.
    const char* symbol = record.quote.Symbol;
    const std::size_t symbol_length = strnlen(symbol, sizeof record.quote.Symbol);
    append_head(out, layout, quote_key_infix, symbol, symbol_length, 4);
    append_bulk(out, field_quote);
    append_bulk(out, reinterpret_cast<const char*>(&record.quote), sizeof record.quote);
    append_bulk(out, field_exchange);
    append_bulk(out, &record.exchange_code, 1);
    append_bulk(out, field_symbol);
    append_bulk(out, symbol, symbol_length);
    append_bulk(out, field_receive);
    append_bulk_number(out, static_cast<std::uint64_t>(record.receive_ns));
}

void append_event_entry(std::string& out, const stream_layout& layout, const stream_event& event) {
    append_head(out, layout, events_key_suffix, "", 0, 3 + event.numbers.size());
    append_bulk(out, "event");
    append_bulk(out, event.name);
    append_bulk(out, "time_ns");
    append_bulk_number(out, static_cast<std::uint64_t>(event.time_ns));
    append_bulk(out, "text");
    append_bulk(out, event.text);
    for (const auto& number : event.numbers) {
        append_bulk(out, number.first);
        append_bulk_number(out, number.second);
    }
}
