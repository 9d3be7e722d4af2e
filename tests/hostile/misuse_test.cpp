// An application that uses the API carelessly: null symbols, records whose texts fill their
// fields, addresses that are not dotted IPv4, calls in the wrong state, and calls from several
// threads at once. Where the reaction is a choice, the safe one is
// sink: ignored (with a log line where there is one) or a bounded copy.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/client_fixture.h"

namespace {

// The last register or unregister request the server saw for a symbol, 0 when none.
char last_request_for(const sim::quote_server& server, const std::string& symbol) {
    char last = 0;
    for (auto& request : server.requests()) {
        if ((request.type == 'N' || request.type == 'R') && request.symbol == symbol)
            last = request.type;
    }
    return last;
}

TEST_F(client_fixture, null_symbols_are_ignored) {
    log_in();
    api->RegisterSymbol('2', nullptr);
    api->UnregisterSymbol('2', nullptr);
    api->RegisterSymbol('\0', nullptr);
    register_and_wait('2', "SIMA01");  // requests go out in one pass: the null came first
    for (auto& request : server.requests_of('N')) EXPECT_EQ(request.symbol, "SIMA01");
    EXPECT_EQ(server.request_count('R'), 0u);
}

TEST_F(client_fixture, records_whose_texts_fill_their_fields) {
    // ServerIp without a terminator: cut at 15 characters, so the connect fails with a line
    // that shows exactly those 15.
    OqsTcpInfo full;
    std::memset(full.Reserved, 'r', sizeof full.Reserved);
    std::memset(full.ServerIp, 'x', sizeof full.ServerIp);
    full.ServerPort = server.port();
    EXPECT_FALSE(api->ConnServer(full, &sink));
    EXPECT_TRUE(sink.has_log(
        "[QuoteClient] init connect server failed. server ip: " + std::string(15, 'x') +
        ", port: " + std::to_string(server.port()) + "."));
    // A full Reserved next to a good address is never read.
    OqsTcpInfo reserved = address();
    std::memset(reserved.Reserved, 'r', sizeof reserved.Reserved);
    ASSERT_TRUE(api->ConnServer(reserved, &sink));

    // UserId of 16 and Password of 33 characters without terminators: the user id travels cut
    // to 15, and the digest covers the 33 password bytes.
    OrvLoginInfo login;
    std::memset(login.UserId, 'x', sizeof login.UserId);
    std::memset(login.Password, 'y', sizeof login.Password);
    api->LoginToOqs(login);
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
    EXPECT_TRUE(sink.of(sink_event::LOGIN)[0].flag);
    const auto logins = server.requests_of('L');
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].user_id, std::string(15, 'x'));
    EXPECT_EQ(logins[0].password_md5, "929671DAC5C34EEB809220A46CCC26B9");  // md5 of 33 'y'
}

TEST_F(client_fixture, addresses_that_are_not_dotted_ipv4) {
    for (const char* text : {"localhost", "999.1.1.1", "", "1.2.3.4.5", "127.0.0.1x"}) {
        SCOPED_TRACE(std::string("address \"") + text + "\"");
        sink.clear();
        OqsTcpInfo info;
        std::strcpy(info.ServerIp, text);
        info.ServerPort = server.port();
        EXPECT_FALSE(api->ConnServer(info, &sink));
        EXPECT_TRUE(
            sink.has_log(std::string("[QuoteClient] init connect server failed. server ip: ") +
                         text + ", port: " + std::to_string(server.port()) + "."));
        EXPECT_EQ(sink.count(sink_event::CONNECTED), 0u);
    }
    EXPECT_EQ(server.accepted_count(), 0u);
    // Nothing was left half-open: a good address connects at once.
    ASSERT_TRUE(api->ConnServer(address(), &sink));
}

TEST_F(client_fixture, calls_in_the_wrong_state) {
    // Before any connection: nothing to act on, nothing crashes, no event.
    api->Disconnect();
    api->RegisterSymbol('2', "SIMA01");
    api->UnregisterSymbol('2', "SIMA01");
    api->LoginToOqs(credentials());
    api->QuerySymbolList();              // waits in the queue for the next worker
    EXPECT_TRUE(sink.events().empty());  // no sink yet: even the log lines go nowhere

    ASSERT_TRUE(api->ConnServer(address(), &sink));
    api->RegisterSymbol('2', "SIMA01");  // connected, but no symbol list yet: ignored
    api->LoginToOqs(credentials());
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
    // The report asked for before connecting is served by this login's worker.
    ASSERT_TRUE(sink.wait_for([&] { return sink.symbol_list_ended(); }));
    EXPECT_TRUE(
        sink.wait_for([&] { return sink.has_log("[QuoteClient] nothing to reg or unreg"); }));
    EXPECT_EQ(server.request_count('N'), 0u);
    api->UnregisterSymbol('2', "SIMB02");  // never registered: nothing to undo
    register_and_wait('2', "SIMA01");
    EXPECT_EQ(server.request_count('R'), 0u);
    api->Disconnect();
    ASSERT_TRUE(server.wait_closed(0, 5000));

    // ConnServer again after Disconnect: a fresh session without the old registrations, but the
    // symbols of the earlier list are accepted at once.
    sink.clear();
    ASSERT_TRUE(api->ConnServer(address(), &sink));
    api->RegisterSymbol('2', "SIMB02");
    api->LoginToOqs(credentials());
    ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 1));
    EXPECT_EQ(sink.of(sink_event::REGISTER)[0].text, "SIMB02");
    for (auto& request : server.requests_on(1)) {
        if (request.type == 'N') {
            EXPECT_EQ(request.symbol, "SIMB02");
        }
    }
}

// Four application threads register, unregister and ask for the list at once while logged in.
// Each ends wanting its symbol: the server must end with a register as the last word for each,
// and every list report asked for is answered.
TEST_F(client_fixture, four_threads_at_once_while_logged_in) {
    log_in();
    const std::vector<std::string> symbols{"Au(T+D)", "Ag(T+D)", "SIMA01", "SIMB02"};
    const std::vector<std::string> wire{"0", "1", "SIMA01", "SIMB02"};
    std::atomic<int> queries{0};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < symbols.size(); ++t) {
        threads.emplace_back([&, t] {
            const char* mine = symbols[t].c_str();
            const char* other = symbols[(t + 1) % symbols.size()].c_str();
            for (int i = 0; i < 2000; ++i) {
                api->RegisterSymbol('1', mine);
                api->UnregisterSymbol('1', other);
                api->RegisterSymbol('1', other);
                api->UnregisterSymbol('1', mine);
                if (i % 500 == 0) {
                    api->QuerySymbolList();
                    queries.fetch_add(1);
                }
            }
            api->RegisterSymbol('1', mine);
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(server.wait_for(
        [&] {
            return std::all_of(wire.begin(), wire.end(), [&](const std::string& s) {
                return last_request_for(server, s) == 'N';
            });
        },
        15000));
    ASSERT_TRUE(sink.wait_for(
        [&] {
            std::size_t ends = 0;
            for (auto& e : sink.of(sink_event::SYMBOL)) ends += e.flag;
            return ends == static_cast<std::size_t>(queries.load());
        },
        15000));
    // Quotes of all four reach the application under their display names.
    for (std::size_t i = 0; i < wire.size(); ++i) {
        ASSERT_TRUE(server.send_quote(0, '1', sim::make_quote(wire[i], static_cast<int>(i))));
    }
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, wire.size()));
    const auto quotes = sink.of(sink_event::QUOTE);
    for (std::size_t i = 0; i < wire.size(); ++i)
        EXPECT_EQ(std::string(quotes[i].quote.Symbol), symbols[i]);
}

}  // namespace
