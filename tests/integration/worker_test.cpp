// The worker against the simulator: symbol list wait, repeated registrations, heartbeats and
// the ways it gives up (a reconnect that restores registrations, or meets a refused relogin,
// is in hostile/outage_test.cpp). These tests wait for the library's own delays (2 s
// reconnect, 5 s symbol list) and run in parallel.
#include <algorithm>
#include <string>

#include "support/client_fixture.h"

namespace {

std::size_t count_symbol(const std::vector<sim::request>& requests, const std::string& symbol) {
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(),
                      [&](const sim::request& r) { return r.symbol == symbol; }));
}

TEST_F(client_fixture, missing_symbol_list_end_fails_the_login_after_a_reset) {
    server.update_script([](sim::reply_script& s) { s.end_symbol_list = false; });
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1, 15000));
    const auto events = calls();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, sink_event::CONNECTED);
    EXPECT_EQ(events[1].kind, sink_event::DISCONNECTED);  // the reset closes the live connection
    EXPECT_EQ(events[2].kind, sink_event::LOGIN);
    EXPECT_FALSE(events[2].flag);
    EXPECT_EQ(events[2].text, "query symbol error");
    EXPECT_TRUE(sink.has_log("[QuoteClient] query symbol error"));
    EXPECT_TRUE(server.wait_closed(0, 5000));
    // The worker has ended: the client takes a new connection.
    ASSERT_TRUE(sink.wait_for([&] { return api->ConnServer(address(), &sink); }, 5000));
}

TEST_F(client_fixture, unanswered_registrations_repeat_and_heartbeats_flow) {
    server.update_script([](sim::reply_script& s) { s.answer_register = false; });
    log_in();
    EXPECT_TRUE(
        sink.wait_for([&] { return sink.has_log("[QuoteClient] nothing to reg or unreg"); }));
    api->RegisterSymbol('2', "SIMA01");
    // Each pass finds the same difference until a reply arrives.
    ASSERT_TRUE(server.wait_for(
        [&] { return count_symbol(server.requests_of('N'), "SIMA01") >= 3; }, 10000));
    ASSERT_TRUE(server.wait_request('H', 1, 10000));
    const sim::request heartbeat = server.requests_of('H')[0];
    EXPECT_EQ(heartbeat.raw.size(), 13u);
    EXPECT_GT(heartbeat.send_time, 1700000000);
    // Once answered, the requests stop and the idle line comes back once.
    ASSERT_TRUE(server.send_register_reply(0, '0', '2', "SIMA01"));
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 1));
    ASSERT_TRUE(sink.wait_for([&] {
        std::size_t idle = 0;
        for (auto& e : sink.of(sink_event::LOG))
            idle += e.text == "[QuoteClient] nothing to reg or unreg";
        return idle == 2;
    }));
}

// The longest test (about 70 s): ten relogins that each wait 2 s to reconnect and 5 s for an
// answer that never comes, after which the worker gives up for good.
TEST_F(client_fixture, ten_unanswered_relogins_end_the_worker) {
    server.update_script([](sim::reply_script& s) {
        s.relogin = sim::login_answer{'Y', "", true};
    });
    log_in();
    server.drop(0);
    ASSERT_TRUE(sink.wait_for(
        [&] { return sink.has_log("[QuoteClient] _th_oqc_send_and_reconn end"); }, 150000));
    std::size_t timeouts = 0;
    for (auto& line : sink.of(sink_event::LOG)) {
        timeouts += line.text == "[QuoteClient] wait for login response timeout.";
    }
    EXPECT_EQ(timeouts, 10u);
    EXPECT_EQ(server.accepted_count(), 11u);  // the first connection and ten attempts
    EXPECT_EQ(server.login_count(), 11u);
    ASSERT_TRUE(sink.wait_for(
        [&] {
            api->ConnServer(address(), &sink);  // accepted once the worker has let go
            return sink.count(sink_event::CONNECTED) == 2;
        },
        5000));
}

}  // namespace
