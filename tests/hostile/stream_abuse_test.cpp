// A server that sends odd streams: one byte per write, a huge symbol list, a flood of quotes,
// texts without terminators and exchange codes of 128 and above.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hostile_support.h"

namespace {

// The whole session a byte at a time: login answer, symbol list, register answer and a quote.
TEST_F(hostile_fixture, server_trickling_one_byte_per_write) {
    server.update_script([](sim::reply_script& s) {
        s.answer_symbol_query = false;
        s.answer_register = false;
    });
    ASSERT_NO_FATAL_FAILURE(log_in_unanswered());
    const std::string login = sim::login_reply_bytes('Y', "");
    ASSERT_TRUE(server.send_raw_split(0, login, every_offset(login.size()), 1));
    ASSERT_TRUE(server.wait_request('S', 1, 5000));
    std::string list;
    for (auto& entry : sim::sample_symbols())
        list += sim::symbol_bytes(entry.exchange_code, entry.symbol);
    list += sim::symbol_end_bytes();
    ASSERT_TRUE(server.send_raw_split(0, list, every_offset(list.size()), 0));
    ASSERT_TRUE(checked.wait_count(sink_event::LOGIN, 1));
    EXPECT_TRUE(checked.of(sink_event::LOGIN)[0].flag);

    api->RegisterSymbol('2', "SIMB02");
    ASSERT_TRUE(server.wait_request('N', 1, 5000));
    const std::string reply = sim::register_reply_bytes('0', '2', "SIMB02");
    ASSERT_TRUE(server.send_raw_split(0, reply, every_offset(reply.size()), 1));
    ASSERT_TRUE(checked.wait_count(sink_event::REGISTER, 1));
    EXPECT_EQ(checked.of(sink_event::REGISTER)[0].text, "SIMB02");

    const OrvMarketDepthQuoteData sent = sim::make_quote("SIMB02", 5);
    const std::string quote = sim::quote_bytes('2', sent);
    ASSERT_TRUE(server.send_raw_split(0, quote, every_offset(quote.size()), 1));
    ASSERT_TRUE(checked.wait_count(sink_event::QUOTE, 1));
    const auto quotes = checked.of(sink_event::QUOTE);
    ASSERT_EQ(quotes.size(), 1u);
    EXPECT_EQ(std::memcmp(&quotes[0].quote, &sent, sizeof sent), 0);
}

// A list of 10 000 symbols grows the client's table from its small start while another
// application thread registers symbols of that list, before and after they arrive.
TEST_F(hostile_fixture, ten_thousand_symbols_while_the_application_registers) {
    constexpr int total = 10000;
    std::vector<sim::symbol_entry> symbols;
    for (int i = 0; i < total; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "S%05d", i);
        symbols.push_back({'2', name});
    }
    server.update_script([&](sim::reply_script& s) { s.symbols = symbols; });
    std::set<std::string> wanted;
    for (int i = 0; i < total; i += 50) wanted.insert(symbols[static_cast<std::size_t>(i)].symbol);

    ASSERT_TRUE(api->ConnServer(address(), &checked));
    std::atomic<bool> logged_in{false};
    std::thread registrar([&] {
        // Hammers the table while the list arrives; early calls find nothing and are ignored.
        do {
            for (auto& symbol : wanted) api->RegisterSymbol('2', symbol.c_str());
            std::this_thread::yield();  // share the symbol lock with the arriving list
        } while (!logged_in.load());
        for (auto& symbol : wanted) api->RegisterSymbol('2', symbol.c_str());
    });
    api->LoginToOqs(credentials());
    const bool login_seen = checked.wait_count(sink_event::LOGIN, 1, 20000);
    logged_in.store(true);
    registrar.join();
    ASSERT_TRUE(login_seen);
    ASSERT_TRUE(checked.of(sink_event::LOGIN)[0].flag);

    // A request may be repeated before its answer is in, so compare the distinct symbols.
    std::set<std::string> confirmed;
    checked.wait_for(
        [&] {
            confirmed.clear();
            for (auto& reply : checked.of(sink_event::REGISTER)) confirmed.insert(reply.text);
            return confirmed.size() >= wanted.size();
        },
        30000);
    EXPECT_EQ(confirmed, wanted);

    api->QuerySymbolList();
    ASSERT_TRUE(checked.wait_for([&] { return checked.symbol_list_ended(); }, 30000));
    const auto listed = checked.of(sink_event::SYMBOL);
    ASSERT_EQ(listed.size(), static_cast<std::size_t>(total) + 1);
    std::set<std::string> names;
    for (std::size_t i = 0; i + 1 < listed.size(); ++i) names.insert(listed[i].text);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(total));
}

// 100 000 quotes in one burst while two application threads register and unregister other
// symbols: every quote of the symbol that stays registered arrives, whole and in order.
TEST_F(hostile_fixture, quote_flood_while_two_threads_change_registrations) {
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
    ASSERT_TRUE(flood.wait([](bool in, std::size_t, std::size_t) { return in; }, 10000));
    api->RegisterSymbol('2', "SIMA01");
    ASSERT_TRUE(flood.wait([](bool, std::size_t registered, std::size_t) { return registered > 0; },
                           10000));

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
    const bool all_arrived = flood.wait_quotes(total, 120000);
    done.store(true);
    first.join();
    second.join();
    EXPECT_TRUE(all_sent);
    EXPECT_TRUE(all_arrived);
    EXPECT_EQ(flood.count(), static_cast<std::size_t>(total));
    EXPECT_EQ(flood.out_of_order(), 0u);
    EXPECT_EQ(server.accepted_count(), 1u);  // no reconnect happened under the load
}

// Texts that fill their fields without a terminator, in every message that carries one. What
// reaches the sink is terminated and holds the whole field; quote texts pass through as sent.
TEST_F(hostile_fixture, unterminated_texts_in_every_message) {
    // 'A' refusal whose text fills its 22 bytes.
    ASSERT_NO_FATAL_FAILURE(log_in_unanswered());
    std::string refusal = sim::login_reply_bytes('N', "");
    std::fill(refusal.begin() + 2, refusal.end(), 'x');
    ASSERT_TRUE(server.send_raw(0, refusal));
    ASSERT_TRUE(checked.wait_count(sink_event::LOGIN, 1));
    EXPECT_FALSE(checked.of(sink_event::LOGIN)[0].flag);
    EXPECT_EQ(checked.of(sink_event::LOGIN)[0].text, std::string(22, 'x'));
    ASSERT_TRUE(server.wait_closed(0, 5000));

    // 'M' whose symbol fills its 28 bytes; the other bytes are not zero either.
    server.update_script([](sim::reply_script& s) {
        s.login.silent = false;
        s.answer_symbol_query = false;
    });
    ASSERT_TRUE(api->ConnServer(address(), &checked));
    ASSERT_EQ(checked.count(sink_event::CONNECTED), 2u);
    api->LoginToOqs(credentials());
    ASSERT_TRUE(server.wait_request('S', 1, 5000));
    std::string entry = sim::symbol_bytes('2', "");
    entry[1] = 'u';
    std::fill(entry.begin() + 4, entry.end(), 'y');
    std::string list = entry;
    for (auto& e : sim::sample_symbols()) list += sim::symbol_bytes(e.exchange_code, e.symbol);
    list += sim::symbol_end_bytes();
    ASSERT_TRUE(server.send_raw(1, list));
    ASSERT_TRUE(checked.wait_for([&] { return checked.count(sink_event::LOGIN) == 2; }));
    ASSERT_TRUE(checked.of(sink_event::LOGIN)[1].flag);
    api->QuerySymbolList();
    ASSERT_TRUE(checked.wait_for([&] { return checked.symbol_list_ended(); }));
    bool listed = false;
    for (auto& symbol : checked.of(sink_event::SYMBOL))
        listed |= symbol.text == std::string(28, 'y');
    EXPECT_TRUE(listed);

    // 'I' and 'F' whose symbols fill their 20 bytes, with the trailing bytes set as well.
    std::string reg = sim::register_reply_bytes('0', '2', "");
    std::fill(reg.begin() + 4, reg.end(), 'z');
    std::string unreg = sim::unregister_reply_bytes('0', '2', "");
    std::fill(unreg.begin() + 4, unreg.end(), 'w');
    ASSERT_TRUE(server.send_raw(1, reg + unreg));
    ASSERT_TRUE(checked.wait_count(sink_event::UNREGISTER, 1));
    ASSERT_EQ(checked.count(sink_event::REGISTER), 1u);
    EXPECT_EQ(checked.of(sink_event::REGISTER)[0].text, std::string(20, 'z'));
    EXPECT_EQ(checked.of(sink_event::UNREGISTER)[0].text, std::string(20, 'w'));

    // 'Q' with every text field full: the record is the server's and passes through byte for
    // byte; a full Symbol that starts with a code is replaced by its terminated display name.
    OrvMarketDepthQuoteData full = sim::make_quote("", 3);
    std::memset(full.TradingDay, '9', sizeof full.TradingDay);
    std::memset(full.Symbol, 'q', sizeof full.Symbol);
    std::memset(full.ExchangeName, 'e', sizeof full.ExchangeName);
    std::memset(full.ExchangeSymbol, 's', sizeof full.ExchangeSymbol);
    std::memset(full.TimeText, 't', sizeof full.TimeText);
    std::string quote = sim::quote_bytes('2', full);
    std::fill(quote.begin() + 2, quote.begin() + 22, 'u');
    OrvMarketDepthQuoteData coded = full;
    coded.Symbol[0] = '1';
    ASSERT_TRUE(server.send_raw(1, quote + sim::quote_bytes('1', coded)));
    ASSERT_TRUE(checked.wait_count(sink_event::QUOTE, 2));
    const auto quotes = checked.of(sink_event::QUOTE);
    EXPECT_EQ(std::memcmp(&quotes[0].quote, &full, sizeof full), 0);
    EXPECT_EQ(std::string(quotes[1].quote.Symbol), "Ag(T+D)");
    EXPECT_EQ(std::memcmp(quotes[1].quote.Symbol + 7, std::string(24, '\0').data(), 24), 0);
    EXPECT_EQ(std::memcmp(quotes[1].quote.ExchangeSymbol, full.ExchangeSymbol,
                          sizeof full.ExchangeSymbol),
              0);
}

// Exchange codes are single characters: 128 and above arrive sign-extended (negative) in every
// event and go back to the server as the same byte.
TEST_F(hostile_fixture, exchange_codes_of_128_and_above) {
    server.update_script([](sim::reply_script& s) {
        s.symbols = {{'\x80', "HI80"}, {'\xC8', "HIC8"}, {'\xFF', "HIFF"}, {'2', "SIMA01"}};
    });
    log_in_checked();
    api->QuerySymbolList();
    ASSERT_TRUE(checked.wait_for([&] { return checked.symbol_list_ended(); }));
    std::set<std::pair<int, std::string>> listed;
    for (auto& symbol : checked.of(sink_event::SYMBOL)) {
        if (!symbol.flag) listed.insert({symbol.code, symbol.text});
    }
    EXPECT_EQ(listed, (std::set<std::pair<int, std::string>>{
                          {-128, "HI80"}, {-56, "HIC8"}, {-1, "HIFF"}, {'2', "SIMA01"}}));

    register_and_wait(checked, '\xC8', "HIC8");
    const auto requests = server.requests_of('N');
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].exchange_code, '\xC8');
    EXPECT_EQ(checked.of(sink_event::REGISTER)[0].code, -56);
    ASSERT_TRUE(server.send_quote(0, '\xFF', sim::make_quote("HIFF", 1)));
    ASSERT_TRUE(checked.wait_count(sink_event::QUOTE, 1));
    EXPECT_EQ(checked.of(sink_event::QUOTE)[0].code, -1);
    ASSERT_TRUE(server.send_unregister_reply(0, '0', '\x80', "HI80"));
    ASSERT_TRUE(checked.wait_count(sink_event::UNREGISTER, 1));
    EXPECT_EQ(checked.of(sink_event::UNREGISTER)[0].code, -128);
    // An unknown type byte of 128 and above is logged as a negative number.
    ASSERT_TRUE(server.send_raw(0, std::string(1, '\xFD') + "rest"));
    EXPECT_TRUE(checked.wait_for(
        [&] { return checked.has_log_containing("receive unknown msg type: -3."); }));
}

}  // namespace
