#include "protocol/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// The bytes of a string literal without its closing terminator, embedded NULs included.
template <std::size_t N>
std::string lit(const char (&text)[N]) {
    return std::string(text, N - 1);
}

template <class MSG>
std::string wire(const MSG& msg) {
    return std::string(reinterpret_cast<const char*>(&msg), sizeof msg);
}

// Garbage in the output block, so a builder that forgets to clear a byte shows it.
template <class MSG>
void dirty(MSG& msg) {
    std::memset(&msg, 0xAA, sizeof msg);
}

// A message at the very end of a heap block of exactly its size: a reader that runs past the
// message runs past the block, which the address sanitizer reports.
class tail_message {
public:
    tail_message(char type, std::size_t size, char fill) : m_bytes(new char[size]), m_size(size) {
        std::memset(m_bytes.get(), fill, size);
        m_bytes[0] = type;
    }
    char& operator[](std::size_t i) { return m_bytes[i]; }
    void fill(std::size_t from, std::size_t count, char c) {
        std::memset(m_bytes.get() + from, c, count);
    }
    const char* get() const { return m_bytes.get(); }
    std::size_t size() const { return m_size; }

private:
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size;
};

const char* const MD5_OF_EMPTY = "D41D8CD98F00B204E9800998ECF8427E";

}  // namespace

TEST(protocol_wire, ClientRequestsByteForByte) {
    oqs_login_req login;
    dirty(login);
    build_login_req(login, "ABCDEFGHIJKLMNO", MD5_OF_EMPTY);
    // 15-character user id ends at byte 18, the digest runs from 19 to 50, zeros at 51 to 53.
    EXPECT_EQ(wire(login), lit("L10"
                               "ABCDEFGHIJKLMNO\0"
                               "D41D8CD98F00B204E9800998ECF8427E\0"
                               "\0\0"
                               "\r\n"));
    build_login_req(login, "ABCDEFGHIJKLMNOPQRS", nullptr);
    EXPECT_EQ(wire(login).substr(0, 20), lit("L10ABCDEFGHIJKLMNO\0\0"));
    EXPECT_EQ(wire(login).substr(19), std::string(35, '\0') + "\r\n");

    oqs_query_symbol_req query;
    dirty(query);
    build_query_symbol_req(query);
    EXPECT_EQ(wire(query), lit("S0\0\0\0\0\r\n"));

    oqs_reg_symbol_req reg;
    dirty(reg);
    build_reg_symbol_req(reg, 'N', 'x', "ABCDEFGHIJKLMNOPQRS");  // 19 characters
    EXPECT_EQ(wire(reg), lit("N0x"
                             "ABCDEFGHIJKLMNOPQRS\0"
                             "\0\0\0\0\0\0\0"
                             "\r\n"));
    dirty(reg);
    build_reg_symbol_req(reg, 'R', '\xE9', "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(wire(reg), lit("R0\xE9"
                             "ABCDEFGHIJKLMNOPQRS\0"
                             "\0\0\0\0\0\0\0"
                             "\r\n"));

    oqs_heartbeat beat;
    dirty(beat);
    build_heartbeat(beat, 0x0102030405060708);
    EXPECT_EQ(wire(beat), lit("H\0\0\x08\x07\x06\x05\x04\x03\x02\x01\r\n"));
    build_heartbeat(beat, -2);
    EXPECT_EQ(wire(beat), lit("H\0\0\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\r\n"));
}

TEST(protocol_wire, ServerMessagesByteForByte) {
    oqs_login_resp login;
    dirty(login);
    build_login_resp(login, 'N', "password is wrong, sorry");  // cut to 21 characters
    EXPECT_EQ(wire(login), lit("AN"
                               "password is wrong, so\0"));

    oqs_symbol_resp symbol;
    dirty(symbol);
    build_symbol_resp(symbol, false, 'k', "cu2501");
    EXPECT_EQ(wire(symbol), lit("M\0"
                                "0k"
                                "cu2501") +
                                std::string(22, '\0'));
    build_symbol_resp(symbol, true, '0', "");
    EXPECT_EQ(wire(symbol), lit("M\0"
                                "10") +
                                std::string(28, '\0'));

    oqs_reg_symbol_resp reply;
    dirty(reply);
    build_symbol_reply(reply, 'I', '2', 'k', "ABCDEFGHIJKLMNOPQRSTU");
    EXPECT_EQ(wire(reply), lit("I2\0k"
                               "ABCDEFGHIJKLMNOPQRS\0"
                               "\0\0\0\0\0\0\0\0"));
    build_symbol_reply(reply, 'F', '1', 'k', "1");
    EXPECT_EQ(wire(reply), lit("F1\0k1") + std::string(27, '\0'));
}

TEST(protocol_wire, QuoteRecordSitsAtByte22) {
    OrvMarketDepthQuoteData quote{};
    std::memcpy(quote.Symbol, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", 31);  // 30 characters and NUL
    std::memcpy(quote.TradingDay, "20240102", 9);
    quote.MarketValue1 = 1.0;
    quote.DepthLevels[0].Count = 0x11223344;
    quote.MarketValue16 = -2.0;

    oqs_quote_msg msg;
    dirty(msg);
    build_quote_msg(msg, 'g', quote);
    const std::string bytes = wire(msg);
    EXPECT_EQ(bytes.substr(0, 22), lit("Qg") + std::string(20, '\0'));
    EXPECT_EQ(bytes.substr(22, 9), lit("20240102\0"));
    EXPECT_EQ(bytes.substr(31, 31), lit("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\0"));
    EXPECT_EQ(bytes.substr(102, 8), lit("\0\0\0\0\0\0\xF0\x3F"));               // MarketValue1 @80
    EXPECT_EQ(bytes.substr(239, 12), lit("\0\0\0\0\0\0\0\0\x44\x33\x22\x11"));  // DepthLevels[0]
    EXPECT_EQ(bytes.substr(359), lit("\0\0\0\0\0\0\0\xC0"));  // MarketValue16 @337
}

TEST(protocol_wire, ReadersStayInsideTheMessage) {
    // Every text field filled to its last byte with no terminator.
    tail_message login_resp('A', LOGIN_RESP_LEN, 'x');
    login_resp[1] = 'N';
    const login_resp_fields lr = read_login_resp(login_resp.get());
    EXPECT_EQ(lr.result, 'N');
    EXPECT_EQ(std::string(lr.text), std::string(22, 'x'));

    tail_message symbol('M', SYMBOL_RESP_LEN, 'y');
    symbol[2] = '0';
    symbol[3] = '\x85';
    const symbol_resp_fields sr = read_symbol_resp(symbol.get());
    EXPECT_FALSE(sr.end);
    EXPECT_EQ(sr.exchange_code, '\x85');
    EXPECT_EQ(std::string(sr.symbol), std::string(28, 'y'));
    symbol[2] = '1';  // end of list: whatever follows the flag is no symbol
    const symbol_resp_fields end = read_symbol_resp(symbol.get());
    EXPECT_TRUE(end.end);
    EXPECT_EQ(end.exchange_code, 0);
    EXPECT_STREQ(end.symbol, "");

    tail_message reply('I', REG_SYMBOL_RESP_LEN, 'z');
    reply[1] = '0';
    reply[3] = 'k';
    reply.fill(24, 8, 'w');
    const symbol_reply_fields rr = read_symbol_reply(reply.get());
    EXPECT_EQ(rr.result, '0');
    EXPECT_EQ(rr.exchange_code, 'k');
    EXPECT_EQ(std::string(rr.symbol), std::string(20, 'z'));

    tail_message login_req('L', LOGIN_REQ_LEN, 'p');
    login_req.fill(3, 16, 'u');
    const login_req_fields lq = read_login_req(login_req.get());
    EXPECT_EQ(std::string(lq.user_id), std::string(16, 'u'));
    EXPECT_EQ(std::string(lq.password_md5), std::string(33, 'p'));

    tail_message reg('N', REG_SYMBOL_REQ_LEN, 's');
    reg[2] = 'k';
    reg.fill(23, 9, 'r');
    const reg_req_fields rq = read_reg_symbol_req(reg.get());
    EXPECT_EQ(rq.exchange_code, 'k');
    EXPECT_EQ(std::string(rq.symbol), std::string(20, 's'));

    tail_message beat('H', HEARTBEAT_LEN, '\0');
    beat.fill(3, 8, '\x80');
    EXPECT_EQ(read_heartbeat_time(beat.get()), static_cast<std::int64_t>(0x8080808080808080u));
}
