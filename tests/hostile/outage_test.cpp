// A server that goes quiet or away: silence before the login, an outage with refused
// connects and a return, and a relogin refused after a later drop. These wait for the
// library's own 2 s reconnect delay.
#include <algorithm>
#include <chrono>
#include <future>
#include <set>
#include <string>

#include "support/client_fixture.h"

namespace {

// Runs Disconnect on its own thread and reports whether it came back within the bound, so
// that a hang fails the test instead of stopping the run.
bool disconnect_returns(OrvQuoteApi* api, int timeout_ms) {
    auto done = std::async(std::launch::async, [api] { api->Disconnect(); });
    const bool in_time =
        done.wait_for(std::chrono::milliseconds(timeout_ms)) == std::future_status::ready;
    done.get();
    return in_time;
}

std::set<std::string> registered_on(const sim::quote_server& server, std::size_t connection) {
    std::set<std::string> symbols;
    for (auto& request : server.requests_on(connection)) {
        if (request.type == 'N') symbols.insert(request.symbol);
    }
    return symbols;
}

TEST_F(client_fixture, silent_server_before_login) {
    // No answer to the login at all: no event, and Disconnect ends it at once.
    ASSERT_NO_FATAL_FAILURE(log_in_unanswered());
    EXPECT_TRUE(disconnect_returns(api, 5000));
    EXPECT_EQ(sink.count(sink_event::LOGIN), 0u);
    EXPECT_TRUE(server.wait_closed(0, 5000));

    // The client is usable again.
    server.update_script([](sim::reply_script& s) { s.login.silent = false; });
    sink.clear();
    log_in();
}

// The server goes away (connects refused) for a few of the client's 2 s attempts, comes back,
// and exactly the registrations wanted by then are restored; a later drop whose relogin is refused
// ends the worker and leaves the client disconnected and ready for a new ConnServer.
TEST_F(client_fixture, outage_then_return_then_refused_relogin) {
    log_in();
    for (const char* symbol : {"Au(T+D)", "Au(T+N2)", "SIMB02"}) api->RegisterSymbol('1', symbol);
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 3));
    api->QuerySymbolList();  // may be flushed by the reconnect; must not break anything
    sink.clear();

    server.stop_listening();
    ASSERT_TRUE(server.drop(0, true));
    const std::string failed = "[QuoteClient] connect server failed. server ip: 127.0.0.1, port: " +
                               std::to_string(server.port()) + ".";
    ASSERT_TRUE(sink.wait_for(
        [&] {
            std::size_t attempts = 0;
            for (auto& e : sink.of(sink_event::LOG)) attempts += e.text == failed;
            return attempts >= 2;
        },
        15000));
    // Wishes changed during the outage count, and only they.
    api->UnregisterSymbol('1', "Au(T+N2)");
    api->RegisterSymbol('2', "SIMA01");
    ASSERT_TRUE(server.listen_again());
    ASSERT_TRUE(server.wait_accepted(2, 15000));
    ASSERT_TRUE(server.wait_for(
        [&] {
            return registered_on(server, 1) == std::set<std::string>{"0", "SIMA01", "SIMB02"};
        },
        15000));
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 3));
    // Relogin and symbol list come first on the new connection, the registrations after.
    std::string order;
    for (auto& request : server.requests_on(1)) {
        if (request.type != 'H') order += request.type;
    }
    EXPECT_EQ(order.substr(0, 2), "LS");
    // The application is not told about a reconnect.
    EXPECT_EQ(sink.count(sink_event::CONNECTED), 0u);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 0u);
    EXPECT_EQ(sink.count(sink_event::LOGIN), 0u);
    ASSERT_TRUE(server.send_quote(1, '1', sim::make_quote("0", 2)));
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 1));
    EXPECT_EQ(std::string(sink.of(sink_event::QUOTE)[0].quote.Symbol), "Au(T+D)");

    // The next relogin is refused: the worker ends for good.
    server.update_script([](sim::reply_script& s) {
        s.relogin = sim::login_answer{'N', "go away", false};
    });
    ASSERT_TRUE(server.drop(1));
    ASSERT_TRUE(sink.wait_for(
        [&] { return sink.has_log("[QuoteClient] _th_oqc_send_and_reconn end"); }, 15000));
    EXPECT_TRUE(sink.has_log_containing("relogin failed"));
    EXPECT_EQ(sink.count(sink_event::LOGIN), 0u);  // a refused relogin is only logged
    sink.clear();
    server.update_script([](sim::reply_script& s) { s.relogin.reset(); });
    // The end line comes just before the worker's last act; until then ConnServer is refused.
    ASSERT_TRUE(sink.wait_for(
        [&] {
            api->ConnServer(address(), &sink);
            return sink.count(sink_event::CONNECTED) == 1;
        },
        5000));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
    EXPECT_TRUE(sink.of(sink_event::LOGIN)[0].flag);
    EXPECT_TRUE(
        sink.wait_for([&] { return sink.has_log("[QuoteClient] nothing to reg or unreg"); }));
    EXPECT_TRUE(registered_on(server, server.accepted_count() - 1).empty());
}

}  // namespace
