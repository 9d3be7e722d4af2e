// A server that stops in the middle of a message: the connection dropped after every prefix of
// a login response, and inside a quote while logged in. A prefix must never be taken for a
// whole message, nor glued to what the next connection brings.
#include <string>
#include <vector>

#include "support/client_fixture.h"

namespace {

using sim::all_connections;

// Before the login completes no worker runs, so a drop is reported at once and the client is
// back at status 0: every prefix length gets a fresh connection on the same client.
TEST_F(client_fixture, login_response_dropped_after_every_prefix) {
    const std::string reply = sim::login_reply_bytes('Y', "");
    ASSERT_EQ(reply.size(), 24u);
    for (std::size_t k = 0; k < reply.size(); ++k) {
        SCOPED_TRACE("prefix of " + std::to_string(k) + " bytes");
        sink.clear();
        ASSERT_NO_FATAL_FAILURE(log_in_unanswered(k + 1));
        ASSERT_TRUE(server.send_raw(k, reply.substr(0, k)));
        ASSERT_TRUE(server.drop(k, k % 2 == 1));
        ASSERT_TRUE(sink.wait_count(sink_event::DISCONNECTED, 1));
        EXPECT_EQ(sink.count(sink_event::LOGIN), 0u);  // half an answer is no answer
        EXPECT_FALSE(sink.has_log_containing("on_login_resp"));
    }
    // A whole answer on a fresh connection still works: nothing of the prefixes stayed behind.
    server.update_script([](sim::reply_script& s) { s.login.silent = false; });
    sink.clear();
    log_in();
}

// A handful of drops inside a quote while logged in: the half quote dies with its connection;
// after the automatic reconnect the registration is back and the next quote arrives whole,
// not glued to the old bytes. Each drop waits for the library's 2 s reconnect.
TEST_F(client_fixture, quote_dropped_midway_is_forgotten_across_the_reconnect) {
    log_in();
    register_and_wait('2', "SIMA01");
    std::size_t connection = 0;
    int sequence = 0;
    for (std::size_t k : {std::size_t{1}, std::size_t{366}}) {
        SCOPED_TRACE("drop after " + std::to_string(k) + " bytes");
        const std::size_t registers = sink.count(sink_event::REGISTER);
        const std::string bytes = sim::quote_bytes('2', sim::make_quote("SIMA01", 100 + sequence));
        ASSERT_TRUE(server.send_raw(connection, bytes.substr(0, k)));
        ASSERT_TRUE(server.drop(connection, k % 2 == 0));
        ++connection;
        ASSERT_TRUE(server.wait_accepted(connection + 1, 15000));
        // The restored registration is confirmed on the new connection.
        ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, registers + 1, 15000));
        const std::size_t quotes = sink.count(sink_event::QUOTE);
        ASSERT_TRUE(server.send_quote(connection, '2', sim::make_quote("SIMA01", sequence)));
        ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, quotes + 1));
        const OrvMarketDepthQuoteData expected = sim::make_quote("SIMA01", sequence);
        const auto all = sink.of(sink_event::QUOTE);
        ASSERT_EQ(all.size(), quotes + 1);
        EXPECT_EQ(std::memcmp(&all.back().quote, &expected, sizeof expected), 0);
        ++sequence;
    }
    // The application was never told: a reconnect is silent.
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 0u);
    EXPECT_EQ(sink.count(sink_event::CONNECTED), 1u);
    EXPECT_EQ(sink.count(sink_event::LOGIN), 1u);
}

}  // namespace
