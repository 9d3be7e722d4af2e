#include "capture/capture_file.h"

#include <algorithm>
#include <cstring>

namespace capture {

namespace {

constexpr std::size_t version_at = 8;
constexpr std::size_t header_size_at = 10;
constexpr std::size_t record_size_at = 12;
constexpr std::size_t start_at = 16;
constexpr std::size_t server_at = 24;

void put_u16(char* out, std::uint16_t value) {
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>(value >> 8);
}

std::uint16_t get_u16(const char* in) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(in[0]) |
                                      static_cast<unsigned char>(in[1]) << 8);
}

void put_i64(char* out, std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
}

std::int64_t get_i64(const char* in) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | static_cast<unsigned char>(in[i]);
    return static_cast<std::int64_t>(bits);
}

}  // namespace

void encode_header(const capture_header& header, char (&out)[capture_header_size]) {
    std::memset(out, 0, sizeof out);
    std::memcpy(out, capture_magic, sizeof capture_magic);
    put_u16(out + version_at, header.version);
    put_u16(out + header_size_at, static_cast<std::uint16_t>(capture_header_size));
    put_u16(out + record_size_at, static_cast<std::uint16_t>(capture_record_size));
    put_i64(out + start_at, header.start_ns);
    const std::size_t length = std::min(header.server.size(), capture_server_size - 1);
    std::memcpy(out + server_at, header.server.data(), length);
}

std::string decode_header(const char* bytes, std::size_t available, capture_header& out) {
    if (available < sizeof capture_magic ||
        std::memcmp(bytes, capture_magic, sizeof capture_magic) != 0) {
        return "not a quote capture";
    }
    if (available < version_at + 2) return "the capture header is cut short";
    out.version = get_u16(bytes + version_at);
    if (out.version > capture_version) {
        return "capture format version " + std::to_string(out.version) +
               " is newer than this program reads (" + std::to_string(capture_version) +
               "); use a newer build";
    }
    if (available < capture_header_size) return "the capture header is cut short";
    if (out.version == 0 || get_u16(bytes + header_size_at) != capture_header_size ||
        get_u16(bytes + record_size_at) != capture_record_size) {
        return "the capture header is damaged";
    }
    out.start_ns = get_i64(bytes + start_at);
    out.server = field_text(bytes + server_at, capture_server_size);
    return {};
}

void encode_record(const capture_record& record, char* out) {
    put_i64(out, record.receive_ns);
    out[capture_exchange_at] = record.exchange_code;
    std::memcpy(out + capture_quote_at, &record.quote, sizeof record.quote);
}

void decode_record(const char* bytes, capture_record& out) {
    out.receive_ns = get_i64(bytes);
    out.exchange_code = bytes[capture_exchange_at];
    std::memcpy(&out.quote, bytes + capture_quote_at, sizeof out.quote);
}

std::int64_t decode_receive_ns(const char* record_bytes) {
    return get_i64(record_bytes);
}

std::string field_text(const char* field, std::size_t width) {
    const void* end = std::memchr(field, '\0', width);
    return std::string(field, end != nullptr ? static_cast<const char*>(end) - field : width);
}

std::string symbol_of(const OrvMarketDepthQuoteData& quote) {
    return field_text(quote.Symbol, sizeof quote.Symbol);
}

}  // namespace capture
