// Integration test support: a client made through the library's exported factory, talking to
// the simulator on 127.0.0.1, with a recording sink.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "orv_quote_api.h"
#include "sim/quote_server.h"
#include "support/recording_sink.h"

class client_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        api = CreateOrvQuoteApi();
        ASSERT_NE(api, nullptr);
    }
    void TearDown() override { DestroyOrvQuoteApi(api); }

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
