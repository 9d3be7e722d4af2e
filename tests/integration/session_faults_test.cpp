// The session's fault paths: a connection lost at a bad moment, Disconnect racing the server's
// close, a register reply that the old connection delivers late, a send that fails. Some wait
// for the library's own 2 s reconnect delay.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "support/client_fixture.h"

namespace {

// A recording sink that can hold the thread of one kind of call, with a bound, until the test
// lets it go: how a test makes the library's threads meet in a chosen order.
class holding_sink : public recording_sink {
public:
    std::atomic<bool> hold_quotes{false};
    std::atomic<bool> hold_on_loss{false};  // holds the line that reports a lost connection
    std::atomic<bool> release{false};
    std::atomic<bool> holding{false};

    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override {
        if (hold_quotes.load()) hold();
        recording_sink::OnQuote(exchange_code, quote);
    }
    void OnLogText(int level, const char* text, int length) override {
        recording_sink::OnLogText(level, text, length);
        if (std::string(text) == "[QuoteClient] tcp client send reg symbol req error.") {
            release.store(true);
        }
        if (hold_on_loss.load() &&
            std::string(text).find("EVENT_REMOTE_DISCONNECT") != std::string::npos) {
            hold();
        }
    }

private:
    void hold() {
        holding.store(true);
        wait_for([this] { return release.load(); });
    }
};

bool registered_on(const sim::quote_server& server, std::size_t connection, const char* symbol) {
    for (auto& request : server.requests_on(connection)) {
        if (request.type == 'N' && request.symbol == symbol) return true;
    }
    return false;
}

// The connection drops while the worker waits for the first symbol list: the application hears
// of the end and of the failed login, and the next session carries no reconnect of this one.
TEST_F(client_fixture, loss_during_the_first_symbol_list_ends_the_session_cleanly) {
    server.update_script([](sim::reply_script& s) { s.end_symbol_list = false; });
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(server.wait_request('S', 1, 5000));
    ASSERT_TRUE(server.drop(0));
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1, 15000));
    auto events = calls();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[1].kind, sink_event::DISCONNECTED);
    EXPECT_EQ(events.back().kind, sink_event::LOGIN);
    EXPECT_EQ(events.back().text, "query symbol error");
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);

    server.update_script([](sim::reply_script& s) { s.end_symbol_list = true; });
    sink.clear();
    ASSERT_TRUE(sink.wait_for([&] {
        api->ConnServer(address(), &sink);  // refused until the worker has let go
        return sink.count(sink_event::CONNECTED) == 1;
    }));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
    EXPECT_TRUE(sink.of(sink_event::LOGIN)[0].flag);
    // A left-over reconnect request would close this connection 2 s after the login.
    EXPECT_FALSE(server.wait_accepted(3, 3500));
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 0u);
}

// Whichever comes first, the server's close (orderly or reset) or Disconnect, the application
// hears of the end of its connection exactly once.
TEST_F(client_fixture, disconnect_racing_the_servers_close_reports_the_end_once) {
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        sink.clear();
        const std::size_t connection = server.accepted_count();
        ASSERT_NO_FATAL_FAILURE(log_in());
        const bool reset = round % 2 == 1;
        if (round % 3 == 0) {  // the client has seen the loss before Disconnect
            server.drop(connection, reset);
            ASSERT_TRUE(sink.wait_for([&] { return sink.has_log_containing("thd_is_run:1"); }));
            api->Disconnect();
        } else if (round % 3 == 1) {  // at the same time
            std::thread dropper([&] { server.drop(connection, reset); });
            api->Disconnect();
            dropper.join();
        } else {
            api->Disconnect();
            server.drop(connection, reset);
        }
        EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);
    }
}

// A register reply still on its way through the old connection when the connection drops must
// not count for the new connection, which registers every wanted symbol again.
TEST_F(client_fixture, a_late_reply_of_the_old_connection_loses_no_registration) {
    holding_sink held;
    server.update_script([](sim::reply_script& s) { s.answer_register = false; });
    ASSERT_TRUE(api->ConnServer(address(), &held));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(held.wait_count(sink_event::LOGIN, 1));
    api->RegisterSymbol('2', "SIMA01");
    ASSERT_TRUE(server.wait_request('N', 1, 5000));
    held.hold_quotes.store(true);
    // The reply waits behind a quote that the application takes its time over.
    ASSERT_TRUE(server.send_raw(0, sim::quote_bytes('2', sim::make_quote("SIMB02")) +
                                       sim::register_reply_bytes('0', '2', "SIMA01")));
    ASSERT_TRUE(server.drop(0));
    ASSERT_TRUE(held.wait_for([&] { return held.holding.load(); }));
    server.update_script([](sim::reply_script& s) { s.answer_register = true; });
    // The loss is seen behind the held quote, or by the worker's next failed send; either way
    // the worker connects again only once the old connection has stopped delivering: not
    // while the application still holds its quote, not even after the 2 s reconnect wait.
    EXPECT_FALSE(server.wait_accepted(2, 2500));
    held.release.store(true);
    EXPECT_TRUE(server.wait_for([&] { return registered_on(server, 1, "SIMA01"); }, 15000));
    api->Disconnect();
}

// A register request that cannot be sent makes the worker reconnect, log in again and register.
TEST_F(client_fixture, a_failed_registration_send_reconnects) {
    holding_sink held;
    ASSERT_TRUE(api->ConnServer(address(), &held));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(held.wait_count(sink_event::LOGIN, 1));
    // The transport's report of the reset waits until the worker's send has failed on it.
    held.hold_on_loss.store(true);
    ASSERT_TRUE(server.drop(0, true));
    ASSERT_TRUE(held.wait_for([&] { return held.holding.load(); }));
    api->RegisterSymbol('2', "SIMA01");
    ASSERT_TRUE(held.wait_for(
        [&] { return held.has_log("[QuoteClient] tcp client send reg symbol req error."); }));
    EXPECT_TRUE(server.wait_for([&] { return registered_on(server, 1, "SIMA01"); }, 15000));
    ASSERT_TRUE(held.wait_count(sink_event::REGISTER, 1));
    EXPECT_EQ(held.count(sink_event::DISCONNECTED), 0u);  // a reconnect is not reported
    api->Disconnect();
}

}  // namespace
