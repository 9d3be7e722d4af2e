// The simulated quote server over real TCP on 127.0.0.1, driven by a bare client.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "raw_client.h"
#include "request_bytes.h"
#include "sim/messages.h"
#include "sim/quote_server.h"

namespace {

using namespace sim_test;

constexpr int bound_ms = 5000;

// A server with a bare client connected and accepted.
struct server_test : ::testing::Test {
    sim::quote_server server;
    raw_client client{server.port()};

    void SetUp() override {
        ASSERT_TRUE(server.listening());
        ASSERT_NE(server.port(), 0);
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(server.wait_accepted(1, bound_ms));
    }

    // Sends a marker behind whatever the server has answered so far, so that the client can
    // tell that nothing else was sent before it.
    void expect_nothing_more_before_marker(raw_client& c) {
        ASSERT_TRUE(server.send_heartbeat(sim::all_connections, 777));
        EXPECT_EQ(c.recv_at_least(HEARTBEAT_LEN), sim::heartbeat_bytes(777));
    }
};

}  // namespace

TEST_F(server_test, LoginIsAcceptedThenReloginRefusedByScript) {
    server.update_script([](sim::reply_script& s) {
        s.relogin = sim::login_answer{'N', "relogin refused", false};
    });
    ASSERT_TRUE(client.send(login("trader1")));
    EXPECT_EQ(client.recv_at_least(LOGIN_RESP_LEN), sim::login_reply_bytes('Y', ""));

    raw_client second(server.port());
    ASSERT_TRUE(second.send(login("trader2", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF")));
    EXPECT_EQ(second.recv_at_least(LOGIN_RESP_LEN), sim::login_reply_bytes('N', "relogin refused"));

    ASSERT_TRUE(server.wait_request('L', 2, bound_ms));
    EXPECT_EQ(server.login_count(), 2u);
    const auto logins = server.requests_of('L');
    EXPECT_EQ(logins[0].connection, 0u);
    EXPECT_EQ(logins[0].user_id, "trader1");
    EXPECT_EQ(logins[1].connection, 1u);
    EXPECT_EQ(logins[1].user_id, "trader2");
    EXPECT_EQ(logins[1].password_md5, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
}

TEST_F(server_test, SymbolListComesWithOrWithoutItsEnd) {
    server.update_script([](sim::reply_script& s) { s.symbols = {{'G', "0"}, {'C', "SIMA01"}}; });
    ASSERT_TRUE(client.send(query()));
    EXPECT_EQ(
        client.recv_at_least(3 * SYMBOL_RESP_LEN),
        sim::symbol_bytes('G', "0") + sim::symbol_bytes('C', "SIMA01") + sim::symbol_end_bytes());

    server.update_script([](sim::reply_script& s) { s.end_symbol_list = false; });
    ASSERT_TRUE(client.send(query()));
    EXPECT_EQ(client.recv_at_least(2 * SYMBOL_RESP_LEN),
              sim::symbol_bytes('G', "0") + sim::symbol_bytes('C', "SIMA01"));
    ASSERT_TRUE(server.wait_request('S', 2, bound_ms));
    expect_nothing_more_before_marker(client);
}

TEST_F(server_test, RegistrationsAreAnsweredWithTheScriptedResultOrNotAtAll) {
    server.update_script([](sim::reply_script& s) { s.register_result_for["SIMB02"] = '9'; });
    ASSERT_TRUE(client.send(reg('N', '2', "SIMA01") + reg('N', '2', "SIMB02")));
    EXPECT_EQ(client.recv_at_least(2 * REG_SYMBOL_RESP_LEN),
              sim::register_reply_bytes('0', '2', "SIMA01") +
                  sim::register_reply_bytes('9', '2', "SIMB02"));

    server.update_script([](sim::reply_script& s) { s.answer_unregister = false; });
    ASSERT_TRUE(client.send(reg('R', '2', "SIMA01")));
    ASSERT_TRUE(server.wait_request('R', 1, bound_ms));
    expect_nothing_more_before_marker(client);
    EXPECT_EQ(server.requests_of('R')[0].symbol, "SIMA01");
}

TEST_F(server_test, RequestsAreRecordedInArrivalOrderPerConnection) {
    const std::string stream = login("u", "0123456789ABCDEF0123456789ABCDEF") + query() +
                               reg('N', '1', "3") + heartbeat(99);
    // A login split across two writes, the rest of the requests in the second one.
    ASSERT_TRUE(client.send(stream.substr(0, 30)));
    ASSERT_TRUE(client.send(stream.substr(30)));
    ASSERT_TRUE(server.wait_request('H', 1, bound_ms));
    raw_client second(server.port());
    ASSERT_TRUE(second.send(query()));
    ASSERT_TRUE(server.wait_request('S', 2, bound_ms));
    ASSERT_TRUE(second.send("Z" + heartbeat(1)));
    ASSERT_TRUE(server.wait_for([&] { return server.requests_on(1).size() == 2; }, bound_ms));

    const auto all = server.requests();
    ASSERT_EQ(all.size(), 6u);
    std::string types;
    for (const auto& r : all) types += r.type;
    EXPECT_EQ(types, "LSNHSZ");
    EXPECT_EQ(all[0].user_id, "u");
    EXPECT_EQ(all[0].password_md5, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(all[0].raw, login("u", "0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_EQ(all[2].exchange_code, '1');
    EXPECT_EQ(all[2].symbol, "3");
    EXPECT_EQ(all[3].send_time, 99);
    EXPECT_TRUE(all[5].unknown);
    EXPECT_EQ(all[5].raw, "Z" + heartbeat(1));
    EXPECT_EQ(server.requests_on(0).size(), 4u);
    EXPECT_EQ(server.request_count('H'), 1u);

    EXPECT_EQ(server.take_requests().size(), 6u);
    EXPECT_TRUE(server.requests().empty());
    ASSERT_TRUE(client.send(heartbeat(100)));
    ASSERT_TRUE(server.wait_request('H', 1, bound_ms));
    server.clear_requests();
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(server.login_count(), 1u);
}

TEST_F(server_test, SplitSendArrivesPieceByPieceAndCoalescedSendAtOnce) {
    const std::string quote = sim::quote_bytes('1', sim::make_quote("2", 5));
    std::string received;
    std::vector<std::size_t> pieces;
    const bool sent = server.send_raw_split(0, quote, {1, 100}, [&](std::size_t piece) {
        // Nothing behind the pieces already written may have arrived yet.
        const std::size_t expected = piece == 1 ? 1 : 100;
        received += client.recv_at_least(expected - received.size());
        EXPECT_EQ(received, quote.substr(0, expected)) << "before piece " << piece;
        pieces.push_back(piece);
    });
    EXPECT_TRUE(sent);
    EXPECT_EQ(pieces, (std::vector<std::size_t>{1, 2}));
    received += client.recv_at_least(quote.size() - received.size());
    EXPECT_EQ(received, quote);

    const std::string two = sim::login_reply_bytes('Y', "") + sim::symbol_end_bytes();
    ASSERT_TRUE(server.send_raw(0, two));
    std::string together;
    ASSERT_GT(client.recv_once(together, bound_ms), 0);
    EXPECT_EQ(together, two);
}

TEST_F(server_test, SendsReachEveryOpenConnectionAndFailOnClosedOnes) {
    raw_client second(server.port());
    ASSERT_TRUE(server.wait_accepted(2, bound_ms));
    const OrvMarketDepthQuoteData quote = sim::make_quote("SIMA01", 1);
    ASSERT_TRUE(server.send_quote(sim::all_connections, '2', quote));
    EXPECT_EQ(client.recv_at_least(QUOTE_MSG_LEN), sim::quote_bytes('2', quote));
    EXPECT_EQ(second.recv_at_least(QUOTE_MSG_LEN), sim::quote_bytes('2', quote));

    second.close();
    ASSERT_TRUE(server.wait_closed(1, bound_ms));
    EXPECT_EQ(server.open_count(), 1u);
    EXPECT_FALSE(server.send_symbol_end(1));
    EXPECT_FALSE(server.send_symbol_end(7));
    EXPECT_TRUE(server.send_symbol_end(sim::all_connections));
    EXPECT_EQ(client.recv_at_least(SYMBOL_RESP_LEN), sim::symbol_end_bytes());
}

TEST_F(server_test, DropEndsTheConnectionOrderlyOrByReset) {
    raw_client second(server.port());
    ASSERT_TRUE(server.wait_accepted(2, bound_ms));

    EXPECT_TRUE(server.drop(0));
    EXPECT_FALSE(server.drop(0));
    std::string ignored;
    EXPECT_EQ(client.recv_once(ignored, bound_ms), 0);

    EXPECT_TRUE(server.drop(1, true));
    const int reset = second.recv_once(ignored, bound_ms);
    EXPECT_NE(reset, raw_client::timed_out);
    // Natively the reset is an error; under wine the close shows as an orderly end.
    EXPECT_LE(reset, 0);
    EXPECT_EQ(server.open_count(), 0u);
    EXPECT_TRUE(server.listening());
}

TEST_F(server_test, StoppedListenerRefusesUntilListeningAgainOnTheSamePort) {
    const std::uint16_t port = server.port();
    server.drop_all();
    server.stop_listening();
    EXPECT_FALSE(server.listening());
    {
        raw_client refused(port);
        EXPECT_FALSE(refused.connected());
    }
    ASSERT_TRUE(server.listen_again());
    EXPECT_EQ(server.port(), port);
    raw_client again(port);
    ASSERT_TRUE(again.connected());
    ASSERT_TRUE(server.wait_accepted(2, bound_ms));
    ASSERT_TRUE(again.send(login("back")));
    EXPECT_EQ(again.recv_at_least(LOGIN_RESP_LEN), sim::login_reply_bytes('Y', ""));
    ASSERT_TRUE(server.wait_request('L', 1, bound_ms));
    EXPECT_EQ(server.requests_on(1).at(0).user_id, "back");
}
