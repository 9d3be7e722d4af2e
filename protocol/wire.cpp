#include "protocol/wire.h"

#include <cstring>

namespace {

const char CR = 13;
const char LF = 10;

// Copies at most width - 1 characters of `text` into a field that is already zero, so the field
// always keeps a terminator.
void put_text(char* field, std::size_t width, const char* text) {
    if (text == nullptr) return;
    for (std::size_t i = 0; i + 1 < width && text[i] != '\0'; ++i) field[i] = text[i];
}

// Copies a received text field of `width` bytes up to its terminator into `out`, which has room
// for width + 1 bytes; never reads past the field, whatever the server put there.
void get_text(char* out, const char* field, std::size_t width) {
    std::size_t i = 0;
    for (; i < width && field[i] != '\0'; ++i) out[i] = field[i];
    std::memset(out + i, 0, width + 1 - i);
}

template <class MSG>
void put_trailer(MSG& out) {
    out.trailer[0] = CR;
    out.trailer[1] = LF;
}

}  // namespace

void build_login_req(oqs_login_req& out, const char* user_id, const char* password_md5) {
    std::memset(&out, 0, sizeof out);
    out.msg_type = 'L';
    out.tag[0] = '1';
    out.tag[1] = '0';
    put_text(out.user_id, sizeof out.user_id, user_id);
    put_text(out.password_md5, sizeof out.password_md5, password_md5);
    put_trailer(out);
}

void build_query_symbol_req(oqs_query_symbol_req& out) {
    std::memset(&out, 0, sizeof out);
    out.msg_type = 'S';
    out.req_flag = '0';
    put_trailer(out);
}

void build_reg_symbol_req(oqs_reg_symbol_req& out, char msg_type, char exchange_code,
                          const char* symbol) {
    std::memset(&out, 0, sizeof out);
    out.msg_type = msg_type;
    out.req_flag = '0';
    out.exchange_code = exchange_code;
    put_text(out.symbol, sizeof out.symbol, symbol);
    put_trailer(out);
}

void build_heartbeat(oqs_heartbeat& out, std::int64_t send_time) {
    std::memset(&out, 0, sizeof out);
    out.msg_type = 'H';
    // Byte by byte, so the order on the wire does not depend on the host.
    std::uint64_t bits = 0;
    std::memcpy(&bits, &send_time, sizeof bits);
    for (std::size_t i = 0; i < sizeof out.send_time; ++i) {
        out.send_time[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    put_trailer(out);
}

void build_login_resp(oqs_login_resp& out, char result, const char* text) {
    std::memset(&out, 0, sizeof out);
    out.msg_type = 'A';
    out.result = result;
    put_text(out.text, sizeof out.text, text);
}

void build_symbol_resp(oqs_symbol_resp& out, bool end, char exchange_code, const char* symbol) {
    std::memset(&out, 0, sizeof out);
    out.msg_type = 'M';
    out.end_flag = end ? '1' : '0';
    out.exchange_code = exchange_code;
    put_text(out.symbol, sizeof out.symbol, symbol);
}

void build_symbol_reply(oqs_reg_symbol_resp& out, char msg_type, char result, char exchange_code,
                        const char* symbol) {
    std::memset(&out, 0, sizeof out);
    out.msg_type = msg_type;
    out.result = result;
    out.exchange_code = exchange_code;
    put_text(out.symbol, sizeof out.symbol, symbol);
}

void build_quote_msg(oqs_quote_msg& out, char exchange_code, const OrvMarketDepthQuoteData& quote) {
    std::memset(&out, 0, sizeof out);
    out.msg_type = 'Q';
    out.exchange_code = exchange_code;
    std::memcpy(&out.quote, &quote, sizeof quote);
}

// The readers address fields through offsetof on the raw bytes rather than through a struct
// pointer: a message may start at any byte of the receive stream.

login_resp_fields read_login_resp(const char* msg) {
    login_resp_fields f;
    f.result = msg[offsetof(oqs_login_resp, result)];
    get_text(f.text, msg + offsetof(oqs_login_resp, text), sizeof oqs_login_resp::text);
    return f;
}

symbol_resp_fields read_symbol_resp(const char* msg) {
    symbol_resp_fields f;
    f.end = msg[offsetof(oqs_symbol_resp, end_flag)] == '1';
    if (f.end) {
        f.exchange_code = 0;
        std::memset(f.symbol, 0, sizeof f.symbol);
        return f;
    }
    f.exchange_code = msg[offsetof(oqs_symbol_resp, exchange_code)];
    get_text(f.symbol, msg + offsetof(oqs_symbol_resp, symbol), sizeof oqs_symbol_resp::symbol);
    return f;
}

symbol_reply_fields read_symbol_reply(const char* msg) {
    symbol_reply_fields f;
    f.result = msg[offsetof(oqs_reg_symbol_resp, result)];
    f.exchange_code = msg[offsetof(oqs_reg_symbol_resp, exchange_code)];
    get_text(f.symbol, msg + offsetof(oqs_reg_symbol_resp, symbol),
             sizeof oqs_reg_symbol_resp::symbol);
    return f;
}

login_req_fields read_login_req(const char* msg) {
    login_req_fields f;
    get_text(f.user_id, msg + offsetof(oqs_login_req, user_id), sizeof oqs_login_req::user_id);
    get_text(f.password_md5, msg + offsetof(oqs_login_req, password_md5),
             sizeof oqs_login_req::password_md5);
    return f;
}

reg_req_fields read_reg_symbol_req(const char* msg) {
    reg_req_fields f;
    f.exchange_code = msg[offsetof(oqs_reg_symbol_req, exchange_code)];
    get_text(f.symbol, msg + offsetof(oqs_reg_symbol_req, symbol),
             sizeof oqs_reg_symbol_req::symbol);
    return f;
}

std::int64_t read_heartbeat_time(const char* msg) {
    const char* bytes = msg + offsetof(oqs_heartbeat, send_time);
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < sizeof oqs_heartbeat::send_time; ++i) {
        bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    }
    std::int64_t value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
