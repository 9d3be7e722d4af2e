// A whole session through the public header against the simulator: connect, login with the
// symbol list, registration, quotes, refusals and disconnect.
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/thread.h"
#include "support/client_fixture.h"

namespace {

using sim::all_connections;

TEST_F(client_fixture, full_session_from_connect_to_destroy) {
    // An exchange code of 128 and above reaches the application negative and goes back to the
    // server as the same byte.
    server.update_script([](sim::reply_script& s) { s.symbols.push_back({'\xC8', "HIC8"}); });
    const auto test_thread = std::this_thread::get_id();
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].kind, sink_event::CONNECTED);
    EXPECT_EQ(calls()[0].thread, test_thread);  // before ConnServer returns, on its thread

    api->LoginToOqs(credentials("trader01", "demo"));
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
    const sink_event login = sink.of(sink_event::LOGIN)[0];
    EXPECT_TRUE(login.flag);
    EXPECT_EQ(login.text, "");
    EXPECT_NE(login.thread, test_thread);
    const auto logins = server.requests_of('L');
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].user_id, "trader01");
    EXPECT_EQ(logins[0].password_md5, "FE01CE2A7FBAC8FAFAED7C982A04E229");  // never the password
    // Logged right after OnLoginReply, on the worker.
    const std::string success = "[QuoteClient] login success. server ip: 127.0.0.1, port: " +
                                std::to_string(server.port()) + ".";
    EXPECT_TRUE(sink.wait_for([&] { return sink.has_log(success); }));

    // Refused while logged in: nothing changes, no second connection.
    EXPECT_TRUE(api->ConnServer(address(), &sink));
    EXPECT_TRUE(sink.has_log("[QuoteClient] cannot connserver while already logon."));
    api->LoginToOqs(credentials());
    EXPECT_TRUE(sink.has_log("[QuoteClient] login_to_oqs failed. wrong oqc tcp status: 2."));
    EXPECT_EQ(server.accepted_count(), 1u);

    // The symbol list report is answered from what the client knows; nothing is sent for it.
    api->QuerySymbolList();
    ASSERT_TRUE(sink.wait_for([&] { return sink.symbol_list_ended(); }));
    const auto symbols = sink.of(sink_event::SYMBOL);
    ASSERT_EQ(symbols.size(), sim::sample_symbols().size() + 2);  // HIC8 and the end
    EXPECT_EQ(symbols.back().code, '0');
    EXPECT_EQ(symbols.back().text, "");
    bool saw_display_name = false;
    for (std::size_t i = 0; i + 1 < symbols.size(); ++i) {
        EXPECT_FALSE(symbols[i].flag);
        saw_display_name |= symbols[i].text == "Au(T+D)";
    }
    EXPECT_TRUE(saw_display_name);
    EXPECT_EQ(server.request_count('S'), 1u);

    // Registration by display name goes out under the wire code, and its quotes come back
    // under the display name on the receive thread.
    api->RegisterSymbol('1', "Au(T+D)");
    api->RegisterSymbol('2', "SIMA01");
    api->RegisterSymbol('2', "NOT-LISTED");
    api->RegisterSymbol('\xC8', "HIC8");
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 3));
    const auto registers = server.requests_of('N');
    ASSERT_GE(registers.size(), 2u);
    bool sent_code = false;
    for (auto& request : registers) {
        EXPECT_NE(request.symbol, "NOT-LISTED");
        EXPECT_NE(request.symbol, "Au(T+D)");  // the wire carries the code, never the name
        if (request.symbol == "0") {
            sent_code = true;
            EXPECT_EQ(request.exchange_code, '1');  // as the symbol list gave it
        }
        if (request.symbol == "HIC8") {
            EXPECT_EQ(request.exchange_code, '\xC8');
        }
    }
    EXPECT_TRUE(sent_code);
    bool reported = false;
    for (auto& reply : sink.of(sink_event::REGISTER)) {
        reported |= reply.text == "Au(T+D)";
        if (reply.text == "HIC8") {
            EXPECT_EQ(reply.code, -56);
        }
    }
    EXPECT_TRUE(reported);

    ASSERT_TRUE(server.send_quote(all_connections, '1', sim::make_quote("0", 7)));
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 1));
    const sink_event quote = sink.of(sink_event::QUOTE)[0];
    EXPECT_EQ(quote.code, '1');
    EXPECT_EQ(std::string(quote.quote.Symbol), "Au(T+D)");
    EXPECT_NE(quote.thread, test_thread);
    const OrvMarketDepthQuoteData sent = sim::make_quote("0", 7);
    EXPECT_EQ(std::memcmp(&quote.quote.ExchangeName, &sent.ExchangeName,
                          sizeof sent - offsetof(OrvMarketDepthQuoteData, ExchangeName)),
              0);

    api->UnregisterSymbol('1', "Au(T+D)");
    ASSERT_TRUE(sink.wait_count(sink_event::UNREGISTER, 1));
    EXPECT_EQ(server.requests_of('R')[0].symbol, "0");

    api->Disconnect();
    EXPECT_TRUE(server.wait_closed(0, 5000));
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);
    // A disconnected client connects again.
    sink.clear();
    EXPECT_TRUE(api->ConnServer(address(), &sink));
    EXPECT_EQ(sink.count(sink_event::CONNECTED), 1u);
}

// The order of a refusal's events is the receive path's test; here the connection really goes.
TEST_F(client_fixture, refused_login_disconnects_and_allows_a_new_connection) {
    server.update_script([](sim::reply_script& s) { s.login = {'N', "bad password", false}; });
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(sink.wait_count(sink_event::DISCONNECTED, 1));
    EXPECT_EQ(sink.of(sink_event::LOGIN).at(0).text, "bad password");
    EXPECT_TRUE(server.wait_closed(0, 5000));
    server.update_script([](sim::reply_script& s) { s.login = {'Y', "", false}; });
    sink.clear();
    log_in();
}

TEST_F(client_fixture, failed_connect_and_null_destroy) {
    server.stop_listening();
    EXPECT_FALSE(api->ConnServer(address(), &sink));
    EXPECT_TRUE(
        sink.has_log("[QuoteClient] init connect server failed. server ip: 127.0.0.1, "
                     "port: " +
                     std::to_string(server.port()) + "."));
    EXPECT_TRUE(calls().empty());
    DestroyOrvQuoteApi(nullptr);
}

TEST_F(client_fixture, lost_connection_before_login_is_reported) {
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    ASSERT_TRUE(server.wait_accepted(1, 5000));
    // Connected: a second ConnServer is refused and changes nothing.
    EXPECT_TRUE(api->ConnServer(address(), &sink));
    EXPECT_TRUE(sink.has_log("[QuoteClient] cannot connserver while already logon."));
    EXPECT_EQ(sink.count(sink_event::CONNECTED), 1u);
    server.drop(0);
    ASSERT_TRUE(sink.wait_count(sink_event::DISCONNECTED, 1));
    // No worker ran, so the client is disconnected and connects again.
    ASSERT_TRUE(sink.wait_for([&] { return api->ConnServer(address(), &sink); }, 5000));
    EXPECT_EQ(sink.count(sink_event::CONNECTED), 2u);
}

TEST_F(client_fixture, disconnect_before_login_closes_on_the_calling_thread) {
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    api->Disconnect();
    ASSERT_EQ(sink.count(sink_event::DISCONNECTED), 1u);  // synchronously, before returning
    EXPECT_EQ(sink.of(sink_event::DISCONNECTED)[0].thread, std::this_thread::get_id());
    EXPECT_TRUE(server.wait_closed(0, 5000));
    api->Disconnect();  // again: nothing more
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);
}

// Logged in with nothing arriving, the receive thread blocks on its socket with no time-out: in
// ten seconds it wakes no more than a handful of times. Counted where the system keeps a count
// per thread; elsewhere the test is skipped.
TEST_F(client_fixture, an_idle_logged_in_client_leaves_its_receive_thread_asleep) {
    struct thread_noting_sink : recording_sink {
        std::atomic<std::uint32_t> receive_thread{0};
        void OnLogText(int level, const char* text, int length) override {
            if (std::strcmp(text, "[on_cache_callback] EVENT_CONNECT") == 0) {
                receive_thread.store(platform::current_thread_id());
            }
            recording_sink::OnLogText(level, text, length);
        }
    } noting;
    ASSERT_TRUE(api->ConnServer(address(), &noting));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(noting.wait_count(sink_event::LOGIN, 1));
    ASSERT_TRUE(noting.wait_for([&] { return noting.receive_thread.load() != 0; }));
    std::uint64_t before = 0, after = 0;
    const bool counted = platform::thread_block_count(noting.receive_thread.load(), &before);
    if (counted) {
        std::this_thread::sleep_for(std::chrono::seconds(10));
        EXPECT_TRUE(platform::thread_block_count(noting.receive_thread.load(), &after));
        EXPECT_LE(after - before, 5u);
    }
    destroy();  // before the sink goes
    if (!counted) GTEST_SKIP() << "this system keeps no count of a thread's waits";
}

}  // namespace
