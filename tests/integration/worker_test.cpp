// The worker against the simulator: symbol list wait, repeated registrations, heartbeats,
// reconnect with relogin and restored registrations, and the ways it gives up. These tests
// wait for the library's own delays (2 s reconnect, 5 s symbol list) and run in parallel.
#include <algorithm>
#include <string>

#include "client_fixture.h"

namespace {

std::size_t count_symbol(const std::vector<sim::request>& requests, const std::string& symbol) {
    return static_cast<std::size_t>(std::count_if(
        requests.begin(), requests.end(), [&](const sim::request& r) { return r.symbol == symbol; }));
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
    EXPECT_TRUE(sink.wait_for([&] { return sink.has_log("[QuoteClient] nothing to reg or unreg"); }));
    api->RegisterSymbol('2', "SIMA01");
    // Each pass finds the same difference until a reply arrives.
    ASSERT_TRUE(server.wait_for([&] { return count_symbol(server.requests_of('N'), "SIMA01") >= 3; },
                                10000));
    ASSERT_TRUE(server.wait_request('H', 1, 10000));
    const sim::request heartbeat = server.requests_of('H')[0];
    EXPECT_EQ(heartbeat.raw.size(), 13u);
    EXPECT_GT(heartbeat.send_time, 1700000000);
    // Once answered, the requests stop and the idle line comes back once.
    ASSERT_TRUE(server.send_register_reply(0, '0', '2', "SIMA01"));
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 1));
    ASSERT_TRUE(sink.wait_for([&] {
        std::size_t idle = 0;
        for (auto& e : sink.of(sink_event::LOG)) idle += e.text == "[QuoteClient] nothing to reg or unreg";
        return idle == 2;
    }));
}

TEST_F(client_fixture, reconnect_restores_every_wanted_registration) {
    log_in();
    for (const char* symbol : {"Au(T+D)", "Ag(T+D)", "SIMA01"}) api->RegisterSymbol('1', symbol);
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 3));
    api->QuerySymbolList();  // may be flushed by the reconnect; must not break anything
    sink.clear();

    server.drop(0, true);
    ASSERT_TRUE(server.wait_accepted(2, 15000));
    ASSERT_TRUE(server.wait_for([&] { return server.requests_on(1).size() >= 5; }, 15000));
    std::vector<sim::request> again = server.requests_on(1);
    std::vector<char> types;
    for (auto& r : again) {
        if (r.type != 'H') types.push_back(r.type);
    }
    ASSERT_GE(types.size(), 5u);
    EXPECT_EQ(types[0], 'L');
    EXPECT_EQ(types[1], 'S');
    std::vector<std::string> restored;
    for (auto& r : again) {
        if (r.type == 'N') restored.push_back(r.symbol);
    }
    std::sort(restored.begin(), restored.end());
    restored.erase(std::unique(restored.begin(), restored.end()), restored.end());
    EXPECT_EQ(restored, (std::vector<std::string>{"0", "1", "SIMA01"}));
    // The application is not told about a reconnect, and quotes flow on the new connection.
    EXPECT_EQ(sink.count(sink_event::CONNECTED), 0u);
    EXPECT_EQ(sink.count(sink_event::LOGIN), 0u);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 0u);
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 3));
    ASSERT_TRUE(server.send_quote(1, '1', sim::make_quote("1", 3)));
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 1));
    EXPECT_EQ(std::string(sink.of(sink_event::QUOTE)[0].quote.Symbol), "Ag(T+D)");
}

TEST_F(client_fixture, refused_relogin_ends_the_worker_and_forgets_registrations) {
    server.update_script([](sim::reply_script& s) { s.relogin = sim::login_answer{'N', "gone", false}; });
    log_in();
    api->RegisterSymbol('2', "SIMA01");
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 1));
    server.drop(0);
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log_containing("relogin failed"); }, 15000));
    // The worker stops for good and resets the client: status 0, so ConnServer is accepted.
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log("[QuoteClient] _th_oqc_send_and_reconn end"); },
                              15000));
    sink.clear();
    ASSERT_TRUE(sink.wait_for([&] {
        api->ConnServer(address(), &sink);  // refused only until the worker's last act
        return sink.count(sink_event::CONNECTED) == 1;
    }, 5000));
    // The registrations went with the worker: nothing is registered on the new connection.
    server.update_script([](sim::reply_script& s) { s.relogin.reset(); });
    api->LoginToOqs(credentials());
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
    EXPECT_TRUE(sink.of(sink_event::LOGIN)[0].flag);
    EXPECT_TRUE(sink.wait_for([&] { return sink.has_log("[QuoteClient] nothing to reg or unreg"); }));
    for (auto& request : server.requests_on(server.accepted_count() - 1)) {
        EXPECT_NE(request.type, 'N');
    }
}

// The longest test (about 70 s): ten relogins that each wait 2 s to reconnect and 5 s for an
// answer that never comes, after which the worker gives up for good.
TEST_F(client_fixture, ten_unanswered_relogins_end_the_worker) {
    server.update_script([](sim::reply_script& s) { s.relogin = sim::login_answer{'Y', "", true}; });
    log_in();
    server.drop(0);
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log("[QuoteClient] _th_oqc_send_and_reconn end"); },
                              150000));
    std::size_t timeouts = 0;
    for (auto& line : sink.of(sink_event::LOG)) {
        timeouts += line.text == "[QuoteClient] wait for login response timeout.";
    }
    EXPECT_EQ(timeouts, 10u);
    EXPECT_EQ(server.accepted_count(), 11u);  // the first connection and ten attempts
    EXPECT_EQ(server.login_count(), 11u);
    ASSERT_TRUE(sink.wait_for([&] {
        api->ConnServer(address(), &sink);  // accepted once the worker has let go
        return sink.count(sink_event::CONNECTED) == 2;
    }, 5000));
}

TEST_F(client_fixture, disconnect_during_the_reconnect_wait_ends_the_worker) {
    log_in();
    server.stop_listening();
    server.drop(0);
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log_containing("thd_is_run:1"); }, 10000));
    api->Disconnect();
    EXPECT_TRUE(sink.has_log("[QuoteClient] _th_oqc_send_and_reconn end"));
    EXPECT_FALSE(sink.has_log("[QuoteClient]stop thread timeout"));
    ASSERT_TRUE(server.listen_again());
    ASSERT_TRUE(api->ConnServer(address(), &sink));
}

}  // namespace
