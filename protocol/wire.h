// Internal, shared with the simulator. The bytes exchanged with the quote server: one packed
// layout per message with its length, builders of every message (client requests and server
// replies) and bounded readers of the fields. Plain functions on caller buffers: no state, no
// locks, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "orv_quote_api.h"

// Every message is a fixed block opened by its type byte, with no padding. Requests end in a
// CR LF trailer; the server's messages carry none that anyone checks.
#pragma pack(push, 1)

struct oqs_login_req {  // 'L'
    char msg_type;
    char tag[2];  // "10", no terminator
    char user_id[16];
    char password_md5[33];  // 32 upper-case hex digits and NUL
    char reserved[2];
    char trailer[2];
};

struct oqs_login_resp {  // 'A'
    char msg_type;
    char result;  // 'Y' accepted, anything else refused
    char text[22];
};

struct oqs_query_symbol_req {  // 'S'
    char msg_type;
    char req_flag;  // '0'
    char reserved[4];
    char trailer[2];
};

struct oqs_symbol_resp {  // 'M'
    char msg_type;
    char unused;
    char end_flag;  // '1' ends the list and carries no symbol
    char exchange_code;
    char symbol[28];
};

struct oqs_reg_symbol_req {  // 'N' register, 'R' unregister
    char msg_type;
    char req_flag;  // '0'
    char exchange_code;
    char symbol[20];
    char reserved[7];
    char trailer[2];
};
using oqs_unreg_symbol_req = oqs_reg_symbol_req;

// Unlike the requests, the replies carry the exchange code at byte 3 and the symbol from byte 4.
struct oqs_reg_symbol_resp {  // 'I' register reply, 'F' unregister reply
    char msg_type;
    char result;  // 'I': '0' or '2' registered; 'F': '0' unregistered; else refused
    char unused;
    char exchange_code;
    char symbol[20];
    char unused2[8];
};
using oqs_unreg_symbol_resp = oqs_reg_symbol_resp;

struct oqs_heartbeat {  // 'H', both directions
    char msg_type;
    char reserved[2];
    char send_time[8];  // signed seconds since 1970, little-endian
    char trailer[2];
};

struct oqs_quote_msg {  // 'Q'
    char msg_type;
    char exchange_code;
    char unused[20];
    OrvMarketDepthQuoteData quote;  // ends the message, no trailer
};

#pragma pack(pop)

constexpr std::uint32_t LOGIN_REQ_LEN = 56;
constexpr std::uint32_t LOGIN_RESP_LEN = 24;
constexpr std::uint32_t QUERY_SYMBOL_REQ_LEN = 8;
constexpr std::uint32_t SYMBOL_RESP_LEN = 32;
constexpr std::uint32_t REG_SYMBOL_REQ_LEN = 32;
constexpr std::uint32_t REG_SYMBOL_RESP_LEN = 32;
constexpr std::uint32_t HEARTBEAT_LEN = 13;
constexpr std::uint32_t QUOTE_MSG_LEN = 367;

static_assert(sizeof(oqs_login_req) == LOGIN_REQ_LEN, "wire layout");
static_assert(sizeof(oqs_login_resp) == LOGIN_RESP_LEN, "wire layout");
static_assert(sizeof(oqs_query_symbol_req) == QUERY_SYMBOL_REQ_LEN, "wire layout");
static_assert(sizeof(oqs_symbol_resp) == SYMBOL_RESP_LEN, "wire layout");
static_assert(sizeof(oqs_reg_symbol_req) == REG_SYMBOL_REQ_LEN, "wire layout");
static_assert(sizeof(oqs_reg_symbol_resp) == REG_SYMBOL_RESP_LEN, "wire layout");
static_assert(sizeof(oqs_heartbeat) == HEARTBEAT_LEN, "wire layout");
static_assert(sizeof(oqs_quote_msg) == QUOTE_MSG_LEN, "wire layout");
static_assert(offsetof(oqs_login_req, user_id) == 3, "wire layout");
static_assert(offsetof(oqs_login_req, password_md5) == 19, "wire layout");
static_assert(offsetof(oqs_login_req, trailer) == 54, "wire layout");
static_assert(offsetof(oqs_login_resp, text) == 2, "wire layout");
static_assert(offsetof(oqs_query_symbol_req, trailer) == 6, "wire layout");
static_assert(offsetof(oqs_symbol_resp, end_flag) == 2, "wire layout");
static_assert(offsetof(oqs_symbol_resp, symbol) == 4, "wire layout");
static_assert(offsetof(oqs_reg_symbol_req, exchange_code) == 2, "wire layout");
static_assert(offsetof(oqs_reg_symbol_req, symbol) == 3, "wire layout");
static_assert(offsetof(oqs_reg_symbol_req, trailer) == 30, "wire layout");
static_assert(offsetof(oqs_reg_symbol_resp, exchange_code) == 3, "wire layout");
static_assert(offsetof(oqs_reg_symbol_resp, symbol) == 4, "wire layout");
static_assert(offsetof(oqs_heartbeat, send_time) == 3, "wire layout");
static_assert(offsetof(oqs_heartbeat, trailer) == 11, "wire layout");
static_assert(offsetof(oqs_quote_msg, quote) == 22, "wire layout");

// Client requests. Each zero-fills the whole block, writes the fields and the CR LF trailer.
// Texts are cut to leave room for their terminator; a null text is the empty text.
void build_login_req(oqs_login_req& out, const char* user_id, const char* password_md5);
void build_query_symbol_req(oqs_query_symbol_req& out);
void build_reg_symbol_req(oqs_reg_symbol_req& out, char msg_type, char exchange_code,
                          const char* symbol);
void build_heartbeat(oqs_heartbeat& out, std::int64_t send_time);

// Server messages, for the simulator and tests: zero-filled, same text rules, no trailer.
void build_login_resp(oqs_login_resp& out, char result, const char* text);
void build_symbol_resp(oqs_symbol_resp& out, bool end, char exchange_code, const char* symbol);
void build_symbol_reply(oqs_reg_symbol_resp& out, char msg_type, char result, char exchange_code,
                        const char* symbol);
void build_quote_msg(oqs_quote_msg& out, char exchange_code, const OrvMarketDepthQuoteData& quote);

// Readers. Each takes the first byte of one complete message and reads nothing beyond it.
// Texts come out terminated: a field without a terminator yields all of its bytes.
struct login_resp_fields {
    char result;
    char text[23];
};
login_resp_fields read_login_resp(const char* msg);

// An end-of-list message yields end true, exchange code 0 and the empty symbol, whatever
// bytes follow its flag.
struct symbol_resp_fields {
    bool end;
    char exchange_code;
    char symbol[29];
};
symbol_resp_fields read_symbol_resp(const char* msg);

// Register ('I') and unregister ('F') replies.
struct symbol_reply_fields {
    char result;
    char exchange_code;
    char symbol[21];
};
symbol_reply_fields read_symbol_reply(const char* msg);

struct login_req_fields {
    char user_id[17];
    char password_md5[34];
};
login_req_fields read_login_req(const char* msg);

// Register ('N') and unregister ('R') requests.
struct reg_req_fields {
    char exchange_code;
    char symbol[21];
};
reg_req_fields read_reg_symbol_req(const char* msg);

// The send time of a heartbeat from either side.
std::int64_t read_heartbeat_time(const char* msg);
