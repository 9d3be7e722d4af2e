// Many clients on one simulator at once, more than the 64 sockets that select watches on
// Windows: each gets every quote of its symbols, and once they are destroyed the process has
// the threads and descriptors (or handles) it had before. The count comes from the build (fewer
// under wine, where threads cost more, but still beyond 64).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "sim/quote_server.h"
#include "support/recording_sink.h"

TEST(many_clients, each_gets_every_quote_of_its_symbols_and_leaves_nothing_behind) {
    const char* const names[] = {"Au(T+D)", "Ag(T+D)", "SIMA01", "SIMB02"};
    const int rounds = 5;
    auto resources = [] {
        return std::make_pair(platform::process_thread_count(), platform::process_handle_count());
    };
    sim::quote_server server;
    const auto before = resources();
    OqsTcpInfo address{};
    std::strcpy(address.ServerIp, server.ip());
    address.ServerPort = server.port();
    OrvLoginInfo login;
    std::strcpy(login.UserId, "demo");
    std::strcpy(login.Password, "demo");
    std::vector<recording_sink> sinks(ORVQ_MANY_CLIENTS);
    std::vector<OrvQuoteApi*> apis;
    for (recording_sink& sink : sinks) {
        apis.push_back(CreateOrvQuoteApi());
        ASSERT_TRUE(apis.back()->ConnServer(address, &sink));
        apis.back()->LoginToOqs(login);
    }
    for (std::size_t i = 0; i < apis.size(); ++i) {
        ASSERT_TRUE(sinks[i].wait_count(sink_event::LOGIN, 1)) << "client " << i;
        for (std::size_t k : {i % 4, (i + 1) % 4}) apis[i]->RegisterSymbol("1122"[k], names[k]);
    }
    // The server numbers connections as they came, so client i is connection i.
    for (std::size_t i = 0; i < apis.size(); ++i) {
        ASSERT_TRUE(sinks[i].wait_count(sink_event::REGISTER, 2)) << "client " << i;
        for (int round = 0; round < rounds; ++round)
            ASSERT_EQ(server.send_sample_quotes(i, round), 2u) << "client " << i;
    }
    for (std::size_t i = 0; i < apis.size(); ++i) {
        ASSERT_TRUE(sinks[i].wait_count(sink_event::QUOTE, 2 * rounds)) << "client " << i;
        std::map<std::string, int> got;  // quotes by symbol
        for (auto& q : sinks[i].of(sink_event::QUOTE)) ++got[q.text];
        EXPECT_EQ(
            got, (std::map<std::string, int>{{names[i % 4], rounds}, {names[(i + 1) % 4], rounds}}))
            << "client " << i;
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
    server.wait_for([&] { return resources() == before; }, 5000);
    EXPECT_EQ(resources(), before) << "threads, descriptors";
}
