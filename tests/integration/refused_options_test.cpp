// Where the system refuses a dead-peer option (wine refuses TCP_MAXRT and the keep-alive
// timing options), the transport says so in one line per connection and goes on: quotes
// arrive, and a server's close still brings the reconnect with its registrations. Where the
// system takes them all (Linux), no line.
#include <string>

#include "platform/socket.h"
#include "support/client_fixture.h"
#include "support/quote_rounds.h"

namespace {

// What this system refuses of the default bound, tried on a connection of the test's own.
std::string refused_here() {
    std::uint16_t port = 0;
    const platform::socket_t listener = platform::socket_listen_loopback(0, &port);
    const platform::socket_t s = platform::socket_open_tcp();
    std::string refused = "no connection to try on";
    if (platform::socket_connect(s, "127.0.0.1", port, 3000)) {
        refused = platform::socket_set_dead_peer_bound(s, {10000, 10, 2, 3});
    }
    platform::socket_close(s);
    platform::socket_close(listener);
    return refused;
}

TEST_F(client_fixture, a_refused_dead_peer_option_is_one_line_per_connection_and_nothing_more) {
    const std::string refused = refused_here();
    testing::internal::CaptureStdout();
    log_in();
    register_and_wait('1', "Au(T+D)");
    ASSERT_EQ(send_quote_round(server, 0, 0), 1u);
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 1));
    ASSERT_TRUE(server.drop(0));
    ASSERT_TRUE(
        server.wait_for([&] { return server.sessions()[1].registered.count("0") == 1; }, 15000));
    ASSERT_EQ(send_quote_round(server, 1, 1), 1u);
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 2));

    const std::string out = testing::internal::GetCapturedStdout();
    const std::string line =
        "dead-peer bound: the system refused " + refused + "; the connection goes on regardless\n";
    std::size_t lines = 0;
    for (auto at = out.find("dead-peer"); at != std::string::npos;
         at = out.find("dead-peer", at + 1)) {
        ++lines;
        EXPECT_EQ(out.compare(at, line.size(), line), 0) << out;
    }
    EXPECT_EQ(lines, refused.empty() ? 0u : 2u) << out;
}

}  // namespace
