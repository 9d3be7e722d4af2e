// The simulated market as the demo and oqs_sim run it: the client library (the shared library,
// through the public header) against a quote_stream on 127.0.0.1, and the price walk behind it.
#include "sim/quote_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "orv_quote_api.h"
#include "support/recording_sink.h"

namespace {

// The field convention of docs/quote-fields.md that a reader of the quotes relies on.
bool consistent(const OrvMarketDepthQuoteData& q) {
    const double last = q.MarketValue1, open = q.MarketValue3, high = q.MarketValue4,
                 low = q.MarketValue5;
    bool book = q.DepthLevels[0].Value < last && last < q.DepthLevels[5].Value &&
                q.MarketValue11 <= q.DepthLevels[4].Value &&
                q.DepthLevels[9].Value <= q.MarketValue10;
    for (int level = 1; level < 5; ++level) {
        book = book && q.DepthLevels[level].Value < q.DepthLevels[level - 1].Value &&
               q.DepthLevels[5 + level].Value > q.DepthLevels[4 + level].Value;
    }
    const std::string time(q.TimeText, strnlen(q.TimeText, sizeof q.TimeText));
    return book && low <= last && last <= high && low <= open && open <= high && time.size() == 8 &&
           time[2] == ':' && time[5] == ':' && q.TimeValue >= 0 && q.TimeValue <= 999;
}

TEST(market_model, a_long_walk_stays_consistent_and_repeats_from_its_seed) {
    const auto& list = sim::default_instruments();
    sim::market_model market(list, 42), twin(list, 42);
    const sim::quote_stamp stamp{"20250314", "10:15:30", 250, 1.0};
    for (std::size_t i = 0; i < list.size(); ++i) {
        for (int n = 0; n < 1000; ++n) {
            const OrvMarketDepthQuoteData q = market.next_quote(i, stamp);
            const OrvMarketDepthQuoteData t = twin.next_quote(i, stamp);
            ASSERT_TRUE(consistent(q)) << list[i].symbol << ", quote " << n;
            ASSERT_EQ(std::memcmp(&q, &t, sizeof q), 0);
        }
    }
}

// A quote_stream started from oqs_sim's command line (with a free port, a fixed seed and the
// user alice), and a client made through the exported factory.
struct simulated {
    explicit simulated(std::vector<std::string> args) {
        args.insert(args.end(), {"--port=0", "--seed=2024", "--user", "alice:s3cret"});
        const sim::parsed_options parsed = sim::parse_sim_options(args);
        EXPECT_EQ(parsed.error, "");
        // The stream's log lines join the client's, at a level of their own.
        stream = std::make_unique<sim::quote_stream>(parsed.options, [this](const std::string& l) {
            sink.OnLogText(9, l.c_str(), static_cast<int>(l.size()));
        });
    }
    // The client goes first, so that it neither sees the server vanish nor reconnects.
    ~simulated() { DestroyOrvQuoteApi(api); }

    bool log_in(const char* password) {
        const std::size_t before = sink.count(sink_event::LOGIN);
        OqsTcpInfo address;
        std::strcpy(address.ServerIp, ip);
        address.ServerPort = stream->port();
        OrvLoginInfo login;
        std::strcpy(login.UserId, "alice");
        std::strcpy(login.Password, password);
        if (!api->ConnServer(address, &sink)) return false;
        api->LoginToOqs(login);
        return sink.wait_count(sink_event::LOGIN, before + 1) &&
               sink.of(sink_event::LOGIN)[before].flag;
    }
    // Events from just after the first one of `kind` whose text contains `part` (all with no
    // kind; none when there is no such event).
    std::vector<sink_event> after(int kind = -1, const std::string& part = "") const {
        std::vector<sink_event> events = sink.events();
        auto first = events.begin();
        while (kind >= 0 && first != events.end() &&
               (first->kind != kind || first->text.find(part) == std::string::npos)) {
            ++first;
        }
        events.erase(events.begin(), first == events.end() || kind < 0 ? first : first + 1);
        return events;
    }
    // Counts the consistent quotes of `symbol` (display name) among `events`.
    static std::size_t good_quotes(const std::vector<sink_event>& events,
                                   const std::string& symbol) {
        std::size_t good = 0;
        for (const sink_event& e : events) {
            good += e.kind == sink_event::QUOTE && e.text == symbol && consistent(e.quote);
        }
        return good;
    }
    // Waits for `count` consistent quotes of `symbol` after the event that after() finds.
    bool wait_quotes(const std::string& symbol, std::size_t count, int kind = -1,
                     const std::string& part = "") {
        return sink.wait_for([&] { return good_quotes(after(kind, part), symbol) >= count; },
                             15000);
    }

    const char* ip = "127.0.0.1";
    recording_sink sink;
    std::unique_ptr<sim::quote_stream> stream;
    OrvQuoteApi* api = CreateOrvQuoteApi();
};

// Writes cut in pieces and heartbeats between the quotes: every quote still arrives whole. The
// server listens on the address it was given (a listener on 127.0.0.1 takes no connection to
// 127.0.0.2).
TEST(quote_stream, password_list_registrations_and_quotes_over_split_writes) {
    simulated s({"--rate", "50", "--heartbeat=0.05", "--split", "--bind", "127.0.0.2"});
    s.ip = "127.0.0.2";
    EXPECT_FALSE(s.log_in("wrong"));
    EXPECT_EQ(s.sink.of(sink_event::LOGIN)[0].text, "bad user or password");
    ASSERT_TRUE(s.sink.wait_count(sink_event::DISCONNECTED, 1));
    ASSERT_TRUE(s.log_in("s3cret"));
    s.api->QuerySymbolList();
    ASSERT_TRUE(s.sink.wait_for([&] { return s.sink.symbol_list_ended(); }));
    EXPECT_EQ(s.sink.count(sink_event::SYMBOL), sim::default_instruments().size() + 1);

    s.api->RegisterSymbol('G', "Au(T+D)");
    s.api->RegisterSymbol('G', "Ag(T+D)");
    ASSERT_TRUE(s.wait_quotes("Ag(T+D)", 5));
    s.api->UnregisterSymbol('G', "Ag(T+D)");
    ASSERT_TRUE(s.wait_quotes("Au(T+D)", 20, sink_event::UNREGISTER));
    EXPECT_TRUE(s.sink.of(sink_event::UNREGISTER)[0].flag);
    // Quotes sent before the reply arrive before it; none may follow it.
    EXPECT_EQ(s.good_quotes(s.after(sink_event::UNREGISTER), "Ag(T+D)"), 0u);
    const auto events = s.after();
    EXPECT_EQ(s.good_quotes(events, "Au(T+D)") + s.good_quotes(events, "Ag(T+D)"),
              s.sink.count(sink_event::QUOTE));
    EXPECT_FALSE(s.sink.has_log_containing("unknown msg type"));
    EXPECT_TRUE(s.sink.has_log_containing("client 1: register 0 (Au(T+D)) ok"));
}

// Junk between the quotes and a server that drops every connection after a second: the client
// reports the junk, reconnects, registers again, and whole quotes keep coming.
TEST(quote_stream, junk_and_drops_are_survived) {
    simulated s({"--rate=40", "--garbage-every", "3", "--drop-after", "1"});
    ASSERT_TRUE(s.log_in("s3cret"));
    s.api->RegisterSymbol('G', "Au(T+D)");
    ASSERT_TRUE(s.wait_quotes("Au(T+D)", 3, sink_event::LOG, "unknown msg type"));
    ASSERT_TRUE(s.wait_quotes("Au(T+D)", 3, sink_event::LOG, "relogin success"));
    EXPECT_TRUE(s.sink.has_log_containing("client 0: dropped after 1 s (--drop-after)"));
}

}  // namespace
