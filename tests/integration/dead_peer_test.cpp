// A server whose path goes silent: firewall rules drop its port on the loopback of a network
// namespace private to this process, so that no reset and no ICMP reaches the client. With
// the dead-peer bound the client gives the connection up within seconds, through the same
// path as a reset, and reconnects once the path is back; with it switched off it notices
// nothing. Linux only, as root (CI runs so); elsewhere the cases report themselves skipped.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <set>

#include "support/client_fixture.h"

namespace {

const std::string lost = "[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:1";

// Moves this thread, and every thread it starts later (the fixture's server and client), into a
// network namespace of its own with the loopback up; `why` says why it could not.
struct private_network {
    private_network() {
        ifreq lo{};
        std::strcpy(lo.ifr_name, "lo");
        lo.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
        const int s = unshare(CLONE_NEWNET) == 0 ? ::socket(AF_INET, SOCK_DGRAM, 0) : -1;
        if (s < 0 || ioctl(s, SIOCSIFFLAGS, &lo) != 0) {
            why = std::string("no private network namespace: ") + std::strerror(errno);
        } else if (std::system("iptables -L INPUT -n >/dev/null 2>&1") != 0) {
            why = "no usable iptables";
        }
        if (s >= 0) ::close(s);
    }
    std::string why;
};

class silent_path : private private_network, public client_fixture {
protected:
    void SetUp() override {
        if (!why.empty()) GTEST_SKIP() << why;
        client_fixture::SetUp();
    }
    void TearDown() override {
        if (silenced) firewall("-D");
        client_fixture::TearDown();
    }
    // Adds (-I) or deletes (-D) the rule that drops every packet to or from the server's port.
    bool firewall(const char* action) {
        const std::string rule = std::string("iptables ") + action +
                                 " INPUT -i lo -p tcp -m multiport --ports " +
                                 std::to_string(server.port()) + " -j DROP";
        return std::system(rule.c_str()) == 0;
    }
    // Logs in with the bound the variable gives ("": the default), registers two symbols and
    // receives a round of quotes; then silences the path.
    void start_then_silence(const char* bound) {
        setenv("ORVQUOTE_DEAD_PEER_MS", bound, 1);
        log_in();
        register_and_wait('1', "Au(T+D)");
        register_and_wait('2', "SIMA01");
        ASSERT_EQ(server.send_sample_quotes(0, 0), 2u);
        ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 2));
        silenced = firewall("-I");
        ASSERT_TRUE(silenced);
    }
    bool silenced = false;
};

TEST_F(silent_path, the_bound_ends_the_connection_within_seconds_and_the_client_comes_back) {
    testing::internal::CaptureStdout();  // the transport's own lines
    ASSERT_NO_FATAL_FAILURE(start_then_silence(""));
    const auto silent_since = std::chrono::steady_clock::now();
    ASSERT_EQ(server.send_sample_quotes(0, 1), 2u);  // into the void
    const bool noticed = sink.wait_for([&] { return sink.has_log(lost); }, 25000);
    const auto after =
        (std::chrono::steady_clock::now() - silent_since) / std::chrono::milliseconds(1);
    RecordProperty("noticed_after_ms", static_cast<int>(after));
    ASSERT_TRUE(noticed);
    EXPECT_GE(after, 9000);
    EXPECT_LE(after, 20000);

    // A reconnect into the dead path gives up by its own bound; once the path is back: the
    // reconnect, relogin, registrations, and quotes of the new connection only.
    ASSERT_TRUE(sink.wait_for([&] { return sink.has_log_containing("connect server failed"); }));
    silenced = !firewall("-D");
    ASSERT_TRUE(server.wait_for(
        [&] {
            return server.sessions()[1].registered == std::set<std::string>{"0", "SIMA01"};
        },
        20000));
    EXPECT_EQ(server.login_count(), 2u);
    ASSERT_EQ(server.send_sample_quotes(1, 2), 2u);
    ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 4));
    for (auto& e : sink.of(sink_event::QUOTE)) {
        EXPECT_NE(e.quote.MarketCount1 - 1000, 1)
            << "a quote of the lost connection after its loss";
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("client readline error(n_recved=-1, errno=" + std::to_string(ETIMEDOUT)),
              std::string::npos)
        << out;
}

TEST_F(silent_path, without_the_bound_nothing_is_noticed) {
    ASSERT_NO_FATAL_FAILURE(start_then_silence("0"));
    EXPECT_FALSE(sink.wait_for([&] { return sink.has_log(lost); }, 20000));
    EXPECT_EQ(server.accepted_count(), 1u);
}

}  // namespace
