#include "protocol/stream_cutter.h"

#include "protocol/wire.h"

std::uint32_t message_length(char msg_type, message_source from) {
    const bool server = from == message_source::server;
    switch (msg_type) {
        case 'H':
            return HEARTBEAT_LEN;
        case 'L':
            return server ? 0 : LOGIN_REQ_LEN;
        case 'S':
            return server ? 0 : QUERY_SYMBOL_REQ_LEN;
        case 'N':
        case 'R':
            return server ? 0 : REG_SYMBOL_REQ_LEN;
        case 'A':
            return server ? LOGIN_RESP_LEN : 0;
        case 'M':
            return server ? SYMBOL_RESP_LEN : 0;
        case 'I':
        case 'F':
            return server ? REG_SYMBOL_RESP_LEN : 0;
        case 'Q':
            return server ? QUOTE_MSG_LEN : 0;
        default:
            return 0;
    }
}

message_cut cut_message(const char* bytes, std::uint32_t available, message_source from) {
    if (available == 0) return {0, false};
    const std::uint32_t length = message_length(bytes[0], from);
    return {length, length != 0 && available >= length};
}
