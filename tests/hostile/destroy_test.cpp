// DestroyOrvQuoteApi at awkward moments: right after ConnServer, with a login answer in flight,
// right after a refused login, during the reconnect wait and in the middle of a quote stream.
// It must return, must not crash, and the sink must not hear from the client afterwards. The
// sink outlives the client here, so a late call is counted rather than a crash.
#include <atomic>
#include <string>
#include <thread>

#include "support/client_fixture.h"

namespace {

// After destruction every connection of the client is closed: once the server has seen that,
// any thread of the client that could still call the sink would have had its moment.
void expect_quiet_after_destroy(const sim::quote_server& server, const recording_sink& sink) {
    EXPECT_TRUE(server.wait_open_count(0, 5000));
    EXPECT_EQ(sink.late_calls.load(), 0) << "the sink was called after DestroyOrvQuoteApi returned";
}

TEST_F(client_fixture, destroy_right_after_connserver) {
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    destroy();
    expect_quiet_after_destroy(server, sink);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);  // the close of a live connection
}

// The login answer races with the destruction: the receive thread may be about to start the
// worker while Disconnect runs.
TEST_F(client_fixture, destroy_with_the_login_answer_in_flight) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        recording_sink local;
        OrvQuoteApi* client = CreateOrvQuoteApi();
        // EXPECT, not ASSERT: the client must go before its sink on every path.
        EXPECT_TRUE(client->ConnServer(address(), &local));
        client->LoginToOqs(credentials());
        if (round % 2 == 1) {
            EXPECT_TRUE(server.wait_request('L', static_cast<std::size_t>(round + 1), 5000));
        }
        DestroyOrvQuoteApi(client);
        local.destroyed.store(true);
        expect_quiet_after_destroy(server, local);
        EXPECT_EQ(local.unterminated.load(), 0);
    }
}

TEST_F(client_fixture, destroy_right_after_a_refused_login) {
    server.update_script([](sim::reply_script& s) { s.login = {'N', "refused", false}; });
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
    destroy();  // the closing thread of the refusal may still be at work
    expect_quiet_after_destroy(server, sink);
}

TEST_F(client_fixture, destroy_during_the_reconnect_wait) {
    log_in();
    register_and_wait('2', "SIMA01");
    server.stop_listening();
    ASSERT_TRUE(server.drop(0, true));
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log_containing("thd_is_run:1"); }));
    destroy();
    EXPECT_FALSE(sink.has_log("[QuoteClient]stop thread timeout"));
    expect_quiet_after_destroy(server, sink);
}

// Destruction while quotes for a registered symbol keep coming faster than the sink takes
// them: the transport's receive queue never empties, so closing must not wait for the stream
// to end, and nothing may reach the sink once DestroyOrvQuoteApi has returned. The sender
// stops after the bound, so a regression fails instead of hanging.
TEST_F(client_fixture, destroy_during_an_endless_quote_stream) {
    log_in();
    register_and_wait('2', "SIMA01");
    std::string batch;
    for (int i = 0; i < 50; ++i) batch += sim::quote_bytes('2', sim::make_quote("SIMA01", i));
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        while (!stop.load() && server.send_raw(0, batch)) {
        }
    });
    const bool flowing = sink.wait_count(sink_event::QUOTE, 200);
    std::atomic<bool> returned{false};
    std::thread destroyer([&] {
        destroy();
        returned.store(true);
    });
    const bool in_time = sink.wait_for([&] { return returned.load(); }, 10000);
    stop.store(true);
    destroyer.join();
    sender.join();
    EXPECT_TRUE(flowing);
    EXPECT_TRUE(in_time) << "DestroyOrvQuoteApi waited for the server to stop sending";
    expect_quiet_after_destroy(server, sink);
}

}  // namespace
