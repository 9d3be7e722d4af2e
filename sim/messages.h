// Internal to the simulator and its tests. The server's messages as byte strings, ready to be
// sent alone, concatenated (several messages in one write) or cut (one message over several
// writes). Plain functions: safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "orv_quote_api.h"

namespace sim {

// The bytes of one packed wire message.
template <class Message>
std::string bytes_of(const Message& message) {
    return std::string(reinterpret_cast<const char*>(&message), sizeof message);
}

// 'A': 'Y' accepts the login, any other result refuses it with `text` as the reason.
std::string login_reply_bytes(char result, const std::string& text);
// 'M': one entry of the symbol list, and the message that ends the list.
std::string symbol_bytes(char exchange_code, const std::string& symbol);
std::string symbol_end_bytes();
// 'I' and 'F': the answers to a register and an unregister request.
std::string register_reply_bytes(char result, char exchange_code, const std::string& symbol);
std::string unregister_reply_bytes(char result, char exchange_code, const std::string& symbol);
// 'Q': one quote record behind the exchange code.
std::string quote_bytes(char exchange_code, const OrvMarketDepthQuoteData& quote);
// 'H': a heartbeat carrying `send_time` (seconds since 1970).
std::string heartbeat_bytes(std::int64_t send_time);

}  // namespace sim
