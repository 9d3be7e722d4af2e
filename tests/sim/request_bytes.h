// Test helper. The client's requests as byte strings, built with the wire builders.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/wire.h"
#include "sim/messages.h"

namespace sim_test {

using sim::bytes_of;

inline std::string login(const char* user, const char* md5 = "0123456789ABCDEF0123456789ABCDEF") {
    oqs_login_req m;
    build_login_req(m, user, md5);
    return bytes_of(m);
}

inline std::string query() {
    oqs_query_symbol_req m;
    build_query_symbol_req(m);
    return bytes_of(m);
}

inline std::string reg(char type, char exchange, const char* symbol) {
    oqs_reg_symbol_req m;
    build_reg_symbol_req(m, type, exchange, symbol);
    return bytes_of(m);
}

inline std::string heartbeat(std::int64_t send_time) {
    oqs_heartbeat m;
    build_heartbeat(m, send_time);
    return bytes_of(m);
}

}  // namespace sim_test
