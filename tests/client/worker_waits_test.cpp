// The worker's waits end by the clock. Every timed wait of the library, sleeps included, goes
// through one blocking step, which this test replaces by one that oversleeps by 15 ms, as a
// default Windows timer tick does, and counts: a wait measured by the clock takes a step or two
// however long it is, while a wait counted in 1 ms sleeps takes thousands and stretches
// sixteenfold.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "client/coqc_tcp.h"
#include "sim/quote_server.h"
#include "support/recording_sink.h"

namespace {

using KESTRO::TOOLS::wake_signal;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::mutex steps_lock;
std::map<std::thread::id, int> steps;  // blocking steps taken, by thread

void oversleeping_block(platform::event_count& events, std::uint32_t ticket,
                        wake_signal::clock::duration rest) {
    {
        std::lock_guard<std::mutex> guard(steps_lock);
        ++steps[std::this_thread::get_id()];
    }
    events.wait(ticket, rest + milliseconds(15));
}

int steps_of(std::thread::id thread) {
    std::lock_guard<std::mutex> guard(steps_lock);
    return steps[thread];
}

struct coarse_timer {
    coarse_timer() { wake_signal::set_block_function(&oversleeping_block); }
    ~coarse_timer() { wake_signal::set_block_function(nullptr); }
};

// From the lost connection to the end of the unanswered relogin: the 2 s reconnect wait and
// the 5 s wait for the login answer, each at most a tick late.
TEST(worker_waits, a_coarse_timer_stretches_no_wait_by_more_than_a_tick) {
    sim::quote_server server;
    server.update_script([](sim::reply_script& s) {
        s.relogin = sim::login_answer{'Y', "", true};
    });
    recording_sink sink;
    const coarse_timer coarse;
    Coqc_tcp client;
    OqsTcpInfo address;
    std::strcpy(address.ServerIp, server.ip());
    address.ServerPort = server.port();
    ASSERT_TRUE(client.ConnServer(address, &sink));
    OrvLoginInfo login;
    std::strcpy(login.UserId, "demo");
    std::strcpy(login.Password, "demo");
    client.LoginToOqs(login);
    ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));

    const std::thread::id worker = sink.of(sink_event::LOGIN)[0].thread;
    ASSERT_TRUE(server.drop(0));
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log_containing("thd_is_run:1"); }));
    const auto lost = steady_clock::now();
    const int steps_before = steps_of(worker);
    // Counted in sleeps, the waits would last 75 s and more.
    ASSERT_TRUE(sink.wait_for(
        [&] { return sink.has_log("[QuoteClient] wait for login response timeout."); }, 30000));
    const auto waited = steady_clock::now() - lost;
    // The reconnect wait, the pause after closing the old connection, the relogin wait and a
    // pass's wait that the loss cut short: a few steps, not one per millisecond.
    EXPECT_LE(steps_of(worker) - steps_before, 20);
    EXPECT_GE(waited, milliseconds(6900));  // 2 s and 5 s, not cut short by the coarse timer

    client.Disconnect();
}

}  // namespace
