// Internal to the programs and tests that write or read captures. The capture file: an 88-byte
// header naming the server and the moment the recording started, then one 354-byte record per
// quote (receive time, exchange code, the quote exactly as the application received it) in the
// order the quotes arrived. Integers are little-endian whatever the machine. The byte layout is
// in docs/recording.md ("The capture file"); the constants below are its offsets. Plain values
// and functions: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "orv_quote_api.h"

namespace capture {

// The magic's first byte is not text and its CR LF is there to be mangled, so that a capture
// that went through a text-mode copy is caught at once.
constexpr char capture_magic[8] = {'\x89', 'O', 'Q', 'C', 'A', 'P', '\r', '\n'};
constexpr std::uint16_t capture_version = 1;
constexpr std::size_t capture_header_size = 88;
constexpr std::size_t capture_server_size = 64;
constexpr std::size_t capture_record_size = 8 + 1 + sizeof(OrvMarketDepthQuoteData);

// What the header says. Plain value.
struct capture_header {
    std::uint16_t version = capture_version;
    std::int64_t start_ns = 0;  // when the recording started, since 1970 UTC
    std::string server;         // the address recorded from, at most 63 characters kept
};

// One quote as the recorder received it. Plain value.
struct capture_record {
    std::int64_t receive_ns = 0;  // since 1970 UTC
    char exchange_code = 0;
    OrvMarketDepthQuoteData quote{};
};

void encode_header(const capture_header& header, char (&out)[capture_header_size]);
// Reads the header from the first `available` bytes of a file; "" when it is a capture this
// program reads, otherwise what is wrong with it.
std::string decode_header(const char* bytes, std::size_t available, capture_header& out);

void encode_record(const capture_record& record, char* out);  // capture_record_size bytes
void decode_record(const char* bytes, capture_record& out);   // capture_record_size bytes

// Parts of an encoded record, read in place.
constexpr std::size_t capture_exchange_at = 8;
constexpr std::size_t capture_quote_at = 9;
std::int64_t decode_receive_ns(const char* record_bytes);

// A text field of a quote as a string: its bytes up to the first NUL, at most `width`.
std::string field_text(const char* field, std::size_t width);

// The symbol of a recorded quote.
std::string symbol_of(const OrvMarketDepthQuoteData& quote);

}  // namespace capture
