// Where the system refuses a dead-peer option (wine refuses TCP_MAXRT), the transport says so
// in one line per connection and goes on: quotes arrive, and a server's close still brings the
// reconnect with its registrations. Where the system takes them all (Linux), no line.
#include "platform/socket.h"
#include "support/client_fixture.h"

TEST_F(client_fixture, a_refused_dead_peer_option_is_one_line_per_connection_and_nothing_more) {
    // What this system refuses of the default bound, tried on a connection of the test's own.
    const platform::socket_t probe = platform::socket_open_tcp();
    ASSERT_TRUE(platform::socket_connect(probe, server.ip(), server.port(), 3000));
    const std::string refused = platform::socket_set_dead_peer_bound(probe, {10000, 10, 2, 3});
    platform::socket_close(probe);

    testing::internal::CaptureStdout();
    log_in();
    register_and_wait('1', "Au(T+D)");
    ASSERT_EQ(server.send_sample_quotes(1, 0), 1u);
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 1));
    ASSERT_TRUE(server.drop(1));
    ASSERT_TRUE(
        server.wait_for([&] { return server.sessions()[2].registered.count("0") == 1; }, 15000));
    ASSERT_EQ(server.send_sample_quotes(2, 1), 1u);
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 2));

    const std::string out = testing::internal::GetCapturedStdout();
    const std::string line =
        "dead-peer bound: the system refused " + refused + "; the connection goes on regardless\n";
    std::size_t lines = 0;
    for (auto at = out.find("dead-peer"); at != std::string::npos;
         at = out.find("dead-peer", at + 1)) {
        EXPECT_EQ(out.compare(at, line.size(), line), 0) << out;
        ++lines;
    }
    EXPECT_EQ(lines, refused.empty() ? 0u : 2u) << out;
}
