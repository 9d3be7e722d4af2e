// The bytes on the wire, byte for byte: every message the client builds, the server's messages
// the simulator builds, the readers that never leave their message, the cutting of a stream,
// and the symbol name table.
#include "protocol/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "protocol/stream_cutter.h"
#include "protocol/symbol_names.h"

namespace {

// The bytes of a string literal without its closing terminator, embedded NULs included.
template <std::size_t N>
std::string lit(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// Builds into a block full of garbage, so that a builder which forgets a byte shows it.
template <class MSG, class BUILD>
std::string built(BUILD build) {
    MSG msg;
    std::memset(&msg, 0xAA, sizeof msg);
    build(msg);
    return std::string(reinterpret_cast<const char*>(&msg), sizeof msg);
}

// A message alone at the end of a heap block of its size, every byte `fill`: a reader that
// runs past the message runs past the block, which the address sanitizer reports.
std::unique_ptr<char[]> tail_message(const std::string& head, std::size_t size, char fill) {
    std::unique_ptr<char[]> bytes(new char[size]);
    std::memset(bytes.get(), fill, size);
    std::memcpy(bytes.get(), head.data(), head.size());
    return bytes;
}

}  // namespace

TEST(protocol_wire, client_requests_byte_for_byte) {
    // A 15-character user id ends at byte 18, the digest runs from 19 to 50, zeros to 53.
    EXPECT_EQ(built<oqs_login_req>([](auto& m) {
                  build_login_req(m, "ABCDEFGHIJKLMNOPQ", "D41D8CD98F00B204E9800998ECF8427E");
              }),
              lit("L10ABCDEFGHIJKLMNO\0D41D8CD98F00B204E9800998ECF8427E\0\0\0\r\n"));
    EXPECT_EQ(built<oqs_query_symbol_req>(build_query_symbol_req), lit("S0\0\0\0\0\r\n"));
    // 19 characters of symbol at most, then the terminator at byte 22.
    EXPECT_EQ(built<oqs_reg_symbol_req>([](auto& m) {
                  build_reg_symbol_req(m, 'R', '\xE9', "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
              }),
              lit("R0\xE9"
                  "ABCDEFGHIJKLMNOPQRS\0\0\0\0\0\0\0\0\r\n"));
    EXPECT_EQ(built<oqs_heartbeat>([](auto& m) { build_heartbeat(m, 0x0102030405060708); }),
              lit("H\0\0\x08\x07\x06\x05\x04\x03\x02\x01\r\n"));
    // The registration tables' record is cut the same way.
    const oqs_symbol_info info('k', "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(std::string(info.Symbol, sizeof info.Symbol), lit("ABCDEFGHIJKLMNOPQRS\0"));
}

TEST(protocol_wire, server_messages_byte_for_byte) {
    EXPECT_EQ(built<oqs_login_resp>(
                  [](auto& m) { build_login_resp(m, 'N', "password is wrong, sorry"); }),
              lit("ANpassword is wrong, so\0"));
    EXPECT_EQ(built<oqs_symbol_resp>([](auto& m) { build_symbol_resp(m, false, 'k', "cu2501"); }),
              lit("M\0"
                  "0kcu2501") +
                  std::string(22, '\0'));
    EXPECT_EQ(built<oqs_symbol_resp>([](auto& m) { build_symbol_resp(m, true, '0', ""); }),
              lit("M\0"
                  "10") +
                  std::string(28, '\0'));
    EXPECT_EQ(built<oqs_reg_symbol_resp>(
                  [](auto& m) { build_symbol_reply(m, 'I', '2', 'k', "ABCDEFGHIJKLMNOPQRSTU"); }),
              lit("I2\0kABCDEFGHIJKLMNOPQRS\0\0\0\0\0\0\0\0\0"));

    OrvMarketDepthQuoteData quote{};
    std::memcpy(quote.Symbol, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", 31);
    quote.MarketValue1 = 1.0;
    quote.DepthLevels[0].Count = 0x11223344;
    quote.MarketValue16 = -2.0;
    const std::string bytes =
        built<oqs_quote_msg>([&](auto& m) { build_quote_msg(m, 'g', quote); });
    EXPECT_EQ(bytes.substr(0, 31), lit("Qg") + std::string(29, '\0'));
    EXPECT_EQ(bytes.substr(31, 31), lit("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\0"));
    EXPECT_EQ(bytes.substr(102, 8), lit("\0\0\0\0\0\0\xF0\x3F"));  // MarketValue1
    EXPECT_EQ(bytes.substr(247, 4), lit("\x44\x33\x22\x11"));      // DepthLevels[0].Count
    EXPECT_EQ(bytes.substr(359), lit("\0\0\0\0\0\0\0\xC0"));       // MarketValue16, the end
}

TEST(protocol_wire, readers_stay_inside_the_message) {
    // Every text field filled to its last byte, no terminator anywhere.
    const auto login_resp = tail_message("AN", LOGIN_RESP_LEN, 'x');
    EXPECT_EQ(read_login_resp(login_resp.get()).result, 'N');
    EXPECT_EQ(std::string(read_login_resp(login_resp.get()).text), std::string(22, 'x'));
    const auto symbol = tail_message("My0\x85", SYMBOL_RESP_LEN, 'y');
    const symbol_resp_fields entry = read_symbol_resp(symbol.get());
    EXPECT_FALSE(entry.end);
    EXPECT_EQ(entry.exchange_code, '\x85');
    EXPECT_EQ(std::string(entry.symbol), std::string(28, 'y'));
    const auto end = tail_message("My1\x85", SYMBOL_RESP_LEN, 'y');  // no symbol, whatever follows
    EXPECT_TRUE(read_symbol_resp(end.get()).end);
    EXPECT_STREQ(read_symbol_resp(end.get()).symbol, "");
    const auto reply = tail_message("I0zk", REG_SYMBOL_RESP_LEN, 'z');
    EXPECT_EQ(read_symbol_reply(reply.get()).exchange_code, 'k');
    EXPECT_EQ(std::string(read_symbol_reply(reply.get()).symbol), std::string(20, 'z'));
    const auto login_req = tail_message("L10", LOGIN_REQ_LEN, 'p');
    EXPECT_EQ(std::string(read_login_req(login_req.get()).user_id), std::string(16, 'p'));
    EXPECT_EQ(std::string(read_login_req(login_req.get()).password_md5), std::string(33, 'p'));
    const auto reg = tail_message("N0k", REG_SYMBOL_REQ_LEN, 's');
    EXPECT_EQ(std::string(read_reg_symbol_req(reg.get()).symbol), std::string(20, 's'));
    const auto beat = tail_message("H", HEARTBEAT_LEN, '\x80');
    EXPECT_EQ(read_heartbeat_time(beat.get()), static_cast<std::int64_t>(0x8080808080808080u));
}

TEST(protocol_wire, cutter_knows_each_sides_messages) {
    const std::string quote(QUOTE_MSG_LEN, 'Q');
    const message_cut short_one = cut_message(quote.data(), 366, message_source::server);
    EXPECT_EQ(short_one.length, 367u);
    EXPECT_FALSE(short_one.whole);
    EXPECT_TRUE(cut_message(quote.data(), 367, message_source::server).whole);
    EXPECT_EQ(cut_message(quote.data(), 367, message_source::client).length, 0u);
    EXPECT_EQ(message_length('L', message_source::server), 0u);
    EXPECT_EQ(message_length('H', message_source::client), HEARTBEAT_LEN);
    EXPECT_EQ(message_length('H', message_source::server), HEARTBEAT_LEN);
    EXPECT_FALSE(cut_message(quote.data(), 0, message_source::server).whole);
}

TEST(protocol_symbol_names, whole_names_to_codes_and_first_characters_to_names) {
    const char* const names[] = {"Au(T+D)", "Ag(T+D)", "mAu(T+D)", "Au(T+N1)", "Au(T+N2)"};
    for (const std::string code : {"0", "1", "2", "3", "4"}) {
        EXPECT_STREQ(name_to_code(names[code[0] - '0']), code.c_str());
        EXPECT_STREQ(code_to_name(code.c_str()), names[code[0] - '0']);
    }
    EXPECT_STREQ(code_to_name("1xyz"), "Ag(T+D)");
    const char* const none = nullptr;
    for (const char* miss : {"au(t+n2)", "Au(T+N2) ", "1", "", none}) {
        EXPECT_EQ(name_to_code(miss), nullptr);
    }
    for (const char* miss : {"5", "x1", "", none}) EXPECT_EQ(code_to_name(miss), nullptr);
}
