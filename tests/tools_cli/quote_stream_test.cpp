// The simulated server end to end: the client library (the shared library, through the public
// header) against a quote_stream on 127.0.0.1. Logins are checked, registered symbols stream
// consistent quotes per connection, and the fault switches do what a client is meant to meet.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orv_quote_api.h"
#include "quote_checks.h"
#include "sim/quote_stream.h"
#include "sim/raw_client.h"
#include "sim/request_bytes.h"
#include "support/recording_sink.h"
#include "tools/md5.h"

namespace {

using tools_cli_test::consistent;

class quote_stream_test : public ::testing::Test {
protected:
    void TearDown() override {
        // The client goes first, so that it neither sees the server vanish nor reconnects.
        DestroyOrvQuoteApi(api);
        stream.reset();
    }

    void start(sim::sim_options options) {
        options.port = 0;
        options.seed = 2024;
        if (options.users.empty()) options.users = {{"alice", "s3cret"}};
        stream = std::make_unique<sim::quote_stream>(options, [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(m_lines_lock);
            m_lines.push_back(line);
        });
        ASSERT_TRUE(stream->listening());
        api = CreateOrvQuoteApi();
    }

    // Starts the server, logs in as alice and registers one metal.
    void start_registered(const sim::sim_options& options, const char* symbol) {
        start(options);
        ASSERT_TRUE(log_in("alice", "s3cret"));
        api->RegisterSymbol('G', symbol);
    }

    OqsTcpInfo address() const {
        OqsTcpInfo info;
        std::strcpy(info.ServerIp, "127.0.0.1");
        info.ServerPort = stream->port();
        return info;
    }

    // Connects, logs in and returns the login event's success flag.
    bool log_in(const char* user, const char* password) {
        const std::size_t before = sink.count(sink_event::LOGIN);
        if (!api->ConnServer(address(), &sink)) return false;
        OrvLoginInfo login;
        std::strcpy(login.UserId, user);
        std::strcpy(login.Password, password);
        api->LoginToOqs(login);
        if (!sink.wait_count(sink_event::LOGIN, before + 1)) return false;
        return sink.of(sink_event::LOGIN)[before].flag;
    }

    // Quote events for `symbol` (display name) from position `from` of the event list on.
    std::vector<sink_event> quotes_of(const std::string& symbol, std::size_t from = 0) const {
        std::vector<sink_event> found;
        const auto events = sink.events();
        for (std::size_t i = from; i < events.size(); ++i) {
            if (events[i].kind == sink_event::QUOTE && events[i].text == symbol) {
                found.push_back(events[i]);
            }
        }
        return found;
    }

    bool wait_quotes(const std::string& symbol, std::size_t count, std::size_t from = 0) {
        return sink.wait_for([&] { return quotes_of(symbol, from).size() >= count; }, 15000);
    }

    // Position in the event list just after the first log line containing `part`.
    std::size_t after_log(const std::string& part) const {
        const auto events = sink.events();
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (events[i].kind == sink_event::LOG &&
                events[i].text.find(part) != std::string::npos) {
                return i + 1;
            }
        }
        return events.size();
    }

    bool logged(const std::string& part) const {
        std::lock_guard<std::mutex> guard(m_lines_lock);
        for (const std::string& line : m_lines) {
            if (line.find(part) != std::string::npos) return true;
        }
        return false;
    }

    recording_sink sink;
    std::unique_ptr<sim::quote_stream> stream;
    OrvQuoteApi* api = nullptr;

private:
    mutable std::mutex m_lines_lock;
    std::vector<std::string> m_lines;
};

TEST_F(quote_stream_test, wrong_password_is_refused_the_right_one_gets_list_and_quotes) {
    sim::sim_options options;
    options.rate = 50;
    start(options);

    EXPECT_FALSE(log_in("alice", "wrong"));
    EXPECT_EQ(sink.of(sink_event::LOGIN)[0].text, "bad user or password");
    ASSERT_TRUE(sink.wait_count(sink_event::DISCONNECTED, 1));
    ASSERT_TRUE(log_in("alice", "s3cret"));
    EXPECT_TRUE(logged("login alice accepted"));  // the desk's events reach the command's log

    api->QuerySymbolList();
    ASSERT_TRUE(sink.wait_for([&] { return sink.symbol_list_ended(); }));
    const auto symbols = sink.of(sink_event::SYMBOL);
    EXPECT_EQ(symbols.size(), sim::default_instruments().size() + 1);
    bool gold = false, copper = false;
    for (const sink_event& s : symbols) {
        gold |= s.code == 'G' && s.text == "Au(T+D)";
        copper |= s.code == 'S' && s.text == "cu2506";
    }
    EXPECT_TRUE(gold && copper);

    api->RegisterSymbol('G', "Au(T+D)");
    ASSERT_TRUE(wait_quotes("Au(T+D)", 10));
    const auto registers = sink.of(sink_event::REGISTER);
    ASSERT_FALSE(registers.empty());
    EXPECT_TRUE(registers[0].flag);
    std::int32_t volume = 0;
    for (const sink_event& event : quotes_of("Au(T+D)")) {
        EXPECT_EQ(event.code, 'G');
        EXPECT_TRUE(consistent(event.quote));
        const tools_cli_test::quote_numbers n = tools_cli_test::numbers_of(event.quote);
        EXPECT_GE(n.volume, volume);
        volume = n.volume;
        EXPECT_GT(n.send_time, 0.0);
        EXPECT_LE(n.send_time, sim::steady_micros());  // the same steady clock, this process
    }
    EXPECT_EQ(sink.count(sink_event::QUOTE), quotes_of("Au(T+D)").size());  // nothing else
}

TEST_F(quote_stream_test, unregistered_symbol_stops_while_the_other_goes_on) {
    sim::sim_options options;
    options.rate = 50;
    start(options);
    ASSERT_TRUE(log_in("alice", "s3cret"));
    api->RegisterSymbol('G', "Au(T+D)");
    api->RegisterSymbol('G', "Ag(T+D)");
    ASSERT_TRUE(wait_quotes("Au(T+D)", 5));
    ASSERT_TRUE(wait_quotes("Ag(T+D)", 5));

    api->UnregisterSymbol('G', "Ag(T+D)");
    ASSERT_TRUE(sink.wait_count(sink_event::UNREGISTER, 1));
    EXPECT_TRUE(sink.of(sink_event::UNREGISTER)[0].flag);
    const std::size_t reply_at = sink.events().size();
    ASSERT_TRUE(wait_quotes("Au(T+D)", 20, reply_at));
    // Quotes sent before the reply arrive before it; none may follow it.
    std::size_t unregister_at = 0;
    const auto events = sink.events();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == sink_event::UNREGISTER) unregister_at = i;
    }
    EXPECT_TRUE(quotes_of("Ag(T+D)", unregister_at).empty());
}

TEST_F(quote_stream_test, split_writes_still_make_whole_quotes) {
    sim::sim_options options;
    options.rate = 40;
    options.split = true;
    ASSERT_NO_FATAL_FAILURE(start_registered(options, "Ag(T+D)"));
    ASSERT_TRUE(wait_quotes("Ag(T+D)", 15));
    for (const sink_event& event : quotes_of("Ag(T+D)")) EXPECT_TRUE(consistent(event.quote));
    EXPECT_FALSE(sink.has_log_containing("unknown msg type"));
}

TEST_F(quote_stream_test, junk_is_reported_by_the_client_and_quotes_keep_coming) {
    sim::sim_options options;
    options.rate = 40;
    options.garbage_every = 3;
    ASSERT_NO_FATAL_FAILURE(start_registered(options, "Au(T+D)"));
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log_containing("unknown msg type"); }));
    const std::size_t after_junk = after_log("unknown msg type");
    // The client throws away what it holds with the junk; whole quotes follow all the same.
    ASSERT_TRUE(sink.wait_for([&] {
        std::size_t good = 0;
        for (const sink_event& e : quotes_of("Au(T+D)", after_junk)) good += consistent(e.quote);
        return good >= 10;
    }));
}

TEST_F(quote_stream_test, dropped_connection_is_restored_with_its_registrations) {
    sim::sim_options options;
    options.rate = 20;
    options.drop_after_seconds = 1;
    ASSERT_NO_FATAL_FAILURE(start_registered(options, "Au(T+D)"));
    ASSERT_TRUE(wait_quotes("Au(T+D)", 1));
    // The client reconnects by itself (every 2 s) and registers again on the new connection.
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log_containing("relogin success"); }, 20000));
    ASSERT_TRUE(wait_quotes("Au(T+D)", 3, after_log("relogin success")));
    EXPECT_TRUE(logged("client 0: dropped after 1 s (--drop-after)"));
    EXPECT_TRUE(logged("client 1: register 0 (Au(T+D)) ok"));
}

TEST_F(quote_stream_test, heartbeats_go_to_logged_in_clients_only) {
    sim::sim_options options;
    options.heartbeat_seconds = 0.05;
    start(options);
    sim_test::raw_client idle(stream->port());
    sim_test::raw_client member(stream->port());
    ASSERT_TRUE(idle.connected() && member.connected());
    char digest[33];
    KESTRO::TOOLS::md5_hex("s3cret", 6, digest);
    ASSERT_TRUE(member.send(sim_test::login("alice", digest)));
    const std::string got = member.recv_at_least(24 + 2 * 13);
    ASSERT_GE(got.size(), 24u + 2 * 13);
    EXPECT_EQ(got.substr(0, 2), "AY");
    EXPECT_EQ(got[24], 'H');
    EXPECT_EQ(got[37], 'H');
    std::string nothing;
    EXPECT_EQ(idle.recv_once(nothing, 1), sim_test::raw_client::timed_out);
}

}  // namespace
