#include "sim/messages.h"

#include "protocol/wire.h"

namespace sim {

namespace {

std::string symbol_reply(char type, char result, char exchange_code, const std::string& symbol) {
    oqs_reg_symbol_resp message;
    build_symbol_reply(message, type, result, exchange_code, symbol.c_str());
    return bytes_of(message);
}

}  // namespace

std::string login_reply_bytes(char result, const std::string& text) {
    oqs_login_resp message;
    build_login_resp(message, result, text.c_str());
    return bytes_of(message);
}

std::string symbol_bytes(char exchange_code, const std::string& symbol) {
    oqs_symbol_resp message;
    build_symbol_resp(message, false, exchange_code, symbol.c_str());
    return bytes_of(message);
}

std::string symbol_end_bytes() {
    oqs_symbol_resp message;
    build_symbol_resp(message, true, 0, "");
    return bytes_of(message);
}

std::string register_reply_bytes(char result, char exchange_code, const std::string& symbol) {
    return symbol_reply('I', result, exchange_code, symbol);
}

std::string unregister_reply_bytes(char result, char exchange_code, const std::string& symbol) {
    return symbol_reply('F', result, exchange_code, symbol);
}

std::string quote_bytes(char exchange_code, const OrvMarketDepthQuoteData& quote) {
    oqs_quote_msg message;
    build_quote_msg(message, exchange_code, quote);
    return bytes_of(message);
}

std::string heartbeat_bytes(std::int64_t send_time) {
    oqs_heartbeat message;
    build_heartbeat(message, send_time);
    return bytes_of(message);
}

}  // namespace sim
