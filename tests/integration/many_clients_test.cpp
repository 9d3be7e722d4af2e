// Many clients on one simulator at once, more than the 64 sockets that select watches on
// Windows: each gets every quote of its symbols, and once they are destroyed the process has
// the threads and descriptors it had before. The count comes from the build (fewer under wine,
// where threads cost more, but still beyond 64).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/quote_rounds.h"
#include "support/recording_sink.h"

namespace {

constexpr int rounds = 5;
const char* const names[] = {"Au(T+D)", "Ag(T+D)", "SIMA01", "SIMB02"};
const char codes[] = {'1', '1', '2', '2'};

// Threads and open descriptors of this process where the build names a /proc; -1 elsewhere.
std::pair<long, long> resources() {
    auto count = [](const std::string& folder) {
        std::error_code error;
        long n = 0;
        std::filesystem::directory_iterator it(folder, error), end;
        for (; !error && it != end; it.increment(error)) ++n;
        return error ? -1L : n;
    };
    return {count(ORVQ_PROC_SELF "/task"), count(ORVQ_PROC_SELF "/fd")};
}

TEST(many_clients, each_gets_every_quote_of_its_symbols_and_leaves_nothing_behind) {
    sim::quote_server server;
    const auto before = resources();
    OqsTcpInfo address{};
    std::strcpy(address.ServerIp, server.ip());
    address.ServerPort = server.port();
    OrvLoginInfo login{};
    std::strcpy(login.UserId, "demo");
    std::strcpy(login.Password, "demo");
    std::vector<std::unique_ptr<recording_sink>> sinks;
    std::vector<OrvQuoteApi*> apis;
    for (int i = 0; i < ORVQ_MANY_CLIENTS; ++i) {
        sinks.push_back(std::make_unique<recording_sink>());
        apis.push_back(CreateOrvQuoteApi());
        ASSERT_TRUE(apis.back()->ConnServer(address, sinks.back().get()));
        apis.back()->LoginToOqs(login);
    }
    for (int i = 0; i < ORVQ_MANY_CLIENTS; ++i) {
        ASSERT_TRUE(sinks[i]->wait_count(sink_event::LOGIN, 1)) << "client " << i;
        for (int k : {i % 4, (i + 1) % 4}) apis[i]->RegisterSymbol(codes[k], names[k]);
    }
    for (int i = 0; i < ORVQ_MANY_CLIENTS; ++i) {
        ASSERT_TRUE(sinks[i]->wait_count(sink_event::REGISTER, 2)) << "client " << i;
    }
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t c = 0; c < ORVQ_MANY_CLIENTS; ++c) {
            ASSERT_EQ(send_quote_round(server, c, round), 2u);
        }
    }
    for (int i = 0; i < ORVQ_MANY_CLIENTS; ++i) {
        ASSERT_TRUE(sinks[i]->wait_count(sink_event::QUOTE, 2 * rounds)) << "client " << i;
        std::set<std::string> expected, got;
        for (int round = 0; round < rounds; ++round) {
            for (int k : {i % 4, (i + 1) % 4})
                expected.insert(names[k] + (":" + std::to_string(round)));
        }
        const auto quotes = sinks[i]->of(sink_event::QUOTE);
        for (auto& q : quotes) {
            const std::string day = q.quote.TradingDay;
            got.insert(q.text + day.substr(day.find(':')));
            EXPECT_EQ(quote_connection(q.quote), quote_connection(quotes[0].quote));
        }
        EXPECT_EQ(got, expected) << "client " << i;
        EXPECT_EQ(quotes.size(), expected.size()) << "client " << i;
    }

    // From several threads at once: one destruction waits out the client's closing steps.
    std::vector<std::thread> enders;
    for (std::size_t t = 0; t < 8; ++t) {
        enders.emplace_back([&apis, t] {
            for (std::size_t i = t; i < apis.size(); i += 8) DestroyOrvQuoteApi(apis[i]);
        });
    }
    for (std::thread& ender : enders) ender.join();
    EXPECT_TRUE(server.wait_open_count(0, 10000));
    EXPECT_TRUE(server.wait_for([&] { return resources() == before; }, 5000))
        << "threads, descriptors before " << before.first << ", " << before.second << ", after "
        << resources().first << ", " << resources().second;
}

}  // namespace
