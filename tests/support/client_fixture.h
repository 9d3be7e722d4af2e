// Test support: a client made through the library's exported factory, talking to the simulator
// on 127.0.0.1, with a recording sink, and the steps most tests begin with.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "orv_quote_api.h"
#include "sim/messages.h"
#include "sim/quote_server.h"
#include "sim/sample_data.h"
#include "support/recording_sink.h"

class client_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        api = CreateOrvQuoteApi();
        ASSERT_NE(api, nullptr);
    }
    void TearDown() override {
        DestroyOrvQuoteApi(api);
        EXPECT_EQ(sink.unterminated.load(), 0) << "a text reached the sink unterminated";
    }

    OqsTcpInfo address() const {
        OqsTcpInfo info;
        std::strcpy(info.ServerIp, server.ip());
        info.ServerPort = server.port();
        return info;
    }
    static OrvLoginInfo credentials(const char* user = "demo", const char* password = "demo") {
        OrvLoginInfo login;
        std::strcpy(login.UserId, user);
        std::strcpy(login.Password, password);
        return login;
    }
    // Connects and logs in; returns when the login has been reported.
    void log_in() {
        ASSERT_TRUE(api->ConnServer(address(), &sink));
        api->LoginToOqs(credentials());
        ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
        ASSERT_TRUE(sink.of(sink_event::LOGIN)[0].flag);
    }
    // Connects and logs in while the server holds back its answer; returns once the server has
    // seen the login. `logins`: how many it has seen by then.
    void log_in_unanswered(std::size_t logins = 1) {
        server.update_script([](sim::reply_script& s) { s.login.silent = true; });
        ASSERT_TRUE(api->ConnServer(address(), &sink));
        api->LoginToOqs(credentials());
        ASSERT_TRUE(server.wait_request('L', logins, 5000));
    }
    // Registers and waits for the server's confirmation.
    void register_and_wait(char exchange, const char* symbol) {
        const std::size_t before = sink.count(sink_event::REGISTER);
        api->RegisterSymbol(exchange, symbol);
        ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, before + 1));
    }
    // Destroys the client and marks the sink, so that any later call counts as late.
    void destroy() {
        DestroyOrvQuoteApi(api);
        sink.destroyed.store(true);
        api = nullptr;
    }
    std::vector<sink_event> calls() const {  // every event but the log lines
        std::vector<sink_event> out;
        for (auto& event : sink.events()) {
            if (event.kind != sink_event::LOG) out.push_back(event);
        }
        return out;
    }

    sim::quote_server server;
    recording_sink sink;
    OrvQuoteApi* api = nullptr;
};
