// The application's threads meet the library's: API calls made from inside sink calls, two
// clients in one process, one of them reconnecting while the other keeps receiving, and a
// quote flood while other threads change the registrations.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "support/client_fixture.h"

namespace {

// For the flood: counts the quotes of one symbol and checks their order by MarketCount1 (1000 +
// the sequence make_quote was given), without keeping them.
class counting_sink : public OrvQuoteEventSink {
public:
    explicit counting_sink(std::string symbol) : m_symbol(std::move(symbol)) {}

    void OnQuote(int, const OrvMarketDepthQuoteData* quote) override {
        if (m_symbol !=
            std::string(quote->Symbol, ::strnlen(quote->Symbol, sizeof quote->Symbol))) {
            return;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        if (quote->MarketCount1 != 1000 + static_cast<int>(m_count)) ++m_out_of_order;
        ++m_count;
        m_changed.notify_all();
    }
    void OnLoginReply(bool success, const char*) override { note(m_logged_in, success); }
    void OnRegisterReply(int, const char* symbol, bool success) override {
        note(m_registered, success && m_symbol == symbol);
    }

    std::size_t out_of_order() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_out_of_order;
    }
    // Waits, at most timeout_ms, until the condition on (logged in, registered, quotes) holds.
    template <class Condition>
    bool wait(Condition condition, int timeout_ms) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return condition(m_logged_in, m_registered, m_count); });
    }

private:
    void note(bool& flag, bool value) {
        std::lock_guard<std::mutex> guard(m_mutex);
        flag = flag || value;
        m_changed.notify_all();
    }

    const std::string m_symbol;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_logged_in = false;
    bool m_registered = false;
    std::size_t m_count = 0;
    std::size_t m_out_of_order = 0;
};

// Registers, unregisters and asks for the symbol list from inside the library's own calls.
class reentrant_sink : public recording_sink {
public:
    OrvQuoteApi* api = nullptr;

    void OnLoginReply(bool success, const char* text) override {
        recording_sink::OnLoginReply(success, text);
        api->RegisterSymbol('2', "SIMA01");
        api->QuerySymbolList();
    }
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override {
        recording_sink::OnSymbolListReply(exchange_code, symbol, last);
        if (last) api->RegisterSymbol('1', "Au(T+D)");
    }
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override {
        recording_sink::OnQuote(exchange_code, quote);
        if (std::string(quote->Symbol) == "SIMA01") api->UnregisterSymbol('2', "SIMA01");
    }
};

TEST_F(client_fixture, api_calls_from_inside_sink_calls) {
    server.update_script([](sim::reply_script& s) { s.quotes_after_register = 1; });
    reentrant_sink reentrant;
    reentrant.api = api;
    ASSERT_TRUE(api->ConnServer(address(), &reentrant));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(reentrant.wait_for([&] { return reentrant.count(sink_event::UNREGISTER) == 1; }));
    EXPECT_TRUE(reentrant.symbol_list_ended());
    ASSERT_TRUE(reentrant.wait_count(sink_event::REGISTER, 2));
    std::vector<std::string> registered;
    for (auto& event : reentrant.of(sink_event::REGISTER)) registered.push_back(event.text);
    std::sort(registered.begin(), registered.end());
    EXPECT_EQ(registered, (std::vector<std::string>{"Au(T+D)", "SIMA01"}));
    EXPECT_EQ(server.requests_of('R').at(0).symbol, "SIMA01");
    destroy();
    EXPECT_EQ(reentrant.unterminated.load(), 0);
}

// Two clients on two servers: one loses its connection and reconnects while the other's quotes
// keep flowing, no event crosses over, and either may be destroyed first.
TEST(two_clients, one_reconnects_while_the_other_receives) {
    for (const bool first_goes_first : {true, false}) {
        SCOPED_TRACE(first_goes_first ? "destroyed in creation order" : "in reverse order");
        sim::quote_server servers[2];
        recording_sink sinks[2];
        OrvQuoteApi* apis[2] = {CreateOrvQuoteApi(), CreateOrvQuoteApi()};
        for (int i = 0; i < 2; ++i) {
            OqsTcpInfo address;
            std::strcpy(address.ServerIp, servers[i].ip());
            address.ServerPort = servers[i].port();
            ASSERT_TRUE(apis[i]->ConnServer(address, &sinks[i]));
            OrvLoginInfo login;
            std::strcpy(login.UserId, "demo");
            std::strcpy(login.Password, "demo");
            apis[i]->LoginToOqs(login);
            ASSERT_TRUE(sinks[i].wait_count(sink_event::LOGIN, 1));
            apis[i]->RegisterSymbol('2', i == 0 ? "SIMA01" : "SIMB02");
            ASSERT_TRUE(sinks[i].wait_count(sink_event::REGISTER, 1));
        }
        ASSERT_TRUE(servers[0].drop(0, true));
        // The second keeps receiving through the first's 2 s reconnect wait.
        int sent = 0;
        while (!servers[0].wait_for([&] { return servers[0].request_count('N') >= 2; }, 50)) {
            ASSERT_TRUE(servers[1].send_quote(0, '2', sim::make_quote("SIMB02", sent++)));
            ASSERT_LT(sent, 400) << "the first client did not register again";
        }
        ASSERT_TRUE(sinks[1].wait_count(sink_event::QUOTE, static_cast<std::size_t>(sent)));
        ASSERT_TRUE(servers[0].send_quote(1, '2', sim::make_quote("SIMA01")));
        ASSERT_TRUE(sinks[0].wait_count(sink_event::QUOTE, 1));
        EXPECT_EQ(sinks[0].of(sink_event::QUOTE).size(), 1u);
        for (auto& quote : sinks[1].of(sink_event::QUOTE)) EXPECT_EQ(quote.text, "SIMB02");
        EXPECT_EQ(sinks[0].count(sink_event::DISCONNECTED), 0u);

        const int order[2] = {first_goes_first ? 0 : 1, first_goes_first ? 1 : 0};
        for (int i : order) {
            DestroyOrvQuoteApi(apis[i]);
            sinks[i].destroyed.store(true);
            EXPECT_TRUE(servers[i].wait_open_count(0, 5000));
        }
        for (auto& sink : sinks) EXPECT_EQ(sink.late_calls.load(), 0);
    }
}

// 100 000 quotes in one burst while two application threads register and unregister other
// symbols: every quote of the symbol that stays registered arrives, whole and in order.
TEST_F(client_fixture, quote_flood_while_two_threads_change_registrations) {
    constexpr int total = 100000;
    constexpr int per_write = 100;
    counting_sink flood("SIMA01");
    // The client keeps a pointer to this sink: destroy it before the sink goes, on every exit.
    struct destroy_first {
        std::function<void()> destroy;
        ~destroy_first() { destroy(); }
    } destroy_at_exit{[this] { destroy(); }};
    ASSERT_TRUE(api->ConnServer(address(), &flood));
    api->LoginToOqs(credentials());
    ASSERT_TRUE(flood.wait([](bool in, bool, std::size_t) { return in; }, 10000));
    api->RegisterSymbol('2', "SIMA01");
    ASSERT_TRUE(flood.wait([](bool, bool registered, std::size_t) { return registered; }, 10000));

    std::atomic<bool> done{false};
    auto churn = [&](const char* a, const char* b) {
        unsigned rounds = 0;
        while (!done.load()) {
            api->RegisterSymbol('2', a);
            api->RegisterSymbol('1', b);
            api->UnregisterSymbol('2', a);
            api->UnregisterSymbol('1', b);
            // Queued reports are served before registration passes: keep them rare, or the
            // worker would only ever serve reports.
            if (++rounds % 1000 == 0) api->QuerySymbolList();
            std::this_thread::yield();
        }
    };
    std::thread first(churn, "SIMB02", "Au(T+D)");
    std::thread second(churn, "SIMB02", "Ag(T+D)");
    bool all_sent = true;
    for (int start = 0; start < total; start += per_write) {
        std::string batch;
        batch.reserve(static_cast<std::size_t>(per_write) * 367);
        for (int i = start; i < start + per_write; ++i) {
            batch += sim::quote_bytes('2', sim::make_quote("SIMA01", i));
        }
        all_sent = server.send_raw(0, batch) && all_sent;
    }
    const bool all_arrived = flood.wait(
        [&](bool, bool, std::size_t quotes) { return quotes >= static_cast<std::size_t>(total); },
        120000);
    done.store(true);
    first.join();
    second.join();
    EXPECT_TRUE(all_sent);
    EXPECT_TRUE(all_arrived);
    EXPECT_EQ(flood.out_of_order(), 0u);
    EXPECT_EQ(server.accepted_count(), 1u);  // no reconnect happened under the load
}

}  // namespace
