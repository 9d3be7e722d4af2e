// A server whose path goes silent: firewall rules drop its port on the loopback of a network
// namespace private to this process, so that no reset and no ICMP reaches the client. With
// the dead-peer bound the client gives the connection up within seconds, through the same
// path as a reset, and reconnects once the path is back; with it switched off it notices
// nothing. Linux only, as root (CI runs so); elsewhere the cases report themselves skipped.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "support/client_fixture.h"
#include "support/quote_rounds.h"

namespace {

using std::chrono::steady_clock;
constexpr std::size_t none = static_cast<std::size_t>(-1);
const std::string lost = "[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:1";

// Moves this thread, and every thread it starts from now on, into a new network namespace
// with its loopback up. Why it could not, or "".
std::string enter_private_network() {
    if (unshare(CLONE_NEWNET) != 0) return std::string("unshare: ") + std::strerror(errno);
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    lo.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    const bool up = s >= 0 && ioctl(s, SIOCSIFFLAGS, &lo) == 0;
    if (s >= 0) ::close(s);
    if (!up) return "the loopback interface stays down";
    if (std::system("iptables -L INPUT -n >/dev/null 2>&1") != 0) return "no usable iptables";
    return "";
}

// Adds (-I) or deletes (-D) the rules that drop every packet to and from the port.
bool firewall(const char* action, std::uint16_t port) {
    for (const char* side : {"--dport", "--sport"}) {
        const std::string rule = std::string("iptables ") + action + " INPUT -i lo -p tcp " + side +
                                 " " + std::to_string(port) + " -j DROP";
        if (std::system(rule.c_str()) != 0) return false;
    }
    return true;
}

class silent_path : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = enter_private_network();
        if (!why.empty()) GTEST_SKIP() << "no private network namespace with a firewall: " << why;
        server = std::make_unique<sim::quote_server>();
    }
    void TearDown() override {
        if (silenced) firewall("-D", server->port());
        if (api != nullptr) DestroyOrvQuoteApi(api);
        feeding = false;
        if (feeder.joinable()) feeder.join();
    }

    // Logs in with the bound the variable gives (null: unset), registers two symbols and
    // keeps a round of quotes going to the newest connection every 100 ms, but not to the
    // silenced one: its writes would fill its buffers and block the feeder.
    void start(const char* bound) {
        if (bound != nullptr) setenv("ORVQUOTE_DEAD_PEER_MS", bound, 1);
        if (bound == nullptr) unsetenv("ORVQUOTE_DEAD_PEER_MS");
        api = CreateOrvQuoteApi();
        OqsTcpInfo address{};
        std::strcpy(address.ServerIp, server->ip());
        address.ServerPort = server->port();
        ASSERT_TRUE(api->ConnServer(address, &sink));
        OrvLoginInfo login{};
        std::strcpy(login.UserId, "demo");
        std::strcpy(login.Password, "demo");
        api->LoginToOqs(login);
        ASSERT_TRUE(sink.wait_count(sink_event::LOGIN, 1));
        api->RegisterSymbol('1', "Au(T+D)");
        api->RegisterSymbol('2', "SIMA01");
        ASSERT_TRUE(sink.wait_count(sink_event::REGISTER, 2));
        feeder = std::thread([this] {
            for (int round = 0; feeding; ++round) {
                const std::size_t newest = server->accepted_count() - 1;
                if (newest != quiet) send_quote_round(*server, newest, round);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        ASSERT_TRUE(sink.wait_count(sink_event::QUOTE, 2));
    }
    // Drops the path; the moment it went silent.
    steady_clock::time_point silence() {
        quiet = server->accepted_count() - 1;
        silenced = firewall("-I", server->port());
        EXPECT_TRUE(silenced);
        return steady_clock::now();
    }
    std::size_t quotes_from(std::size_t connection) const {
        std::size_t count = 0;
        for (auto& e : sink.of(sink_event::QUOTE)) count += quote_connection(e.quote) == connection;
        return count;
    }

    recording_sink sink;
    std::unique_ptr<sim::quote_server> server;
    OrvQuoteApi* api = nullptr;
    std::thread feeder;
    std::atomic<bool> feeding{true};
    std::atomic<std::size_t> quiet{none};
    bool silenced = false;
};

TEST_F(silent_path, the_bound_ends_the_connection_within_seconds_and_the_client_comes_back) {
    ASSERT_NO_FATAL_FAILURE(start(nullptr));  // the default bound, 10 s
    testing::internal::CaptureStdout();       // the transport's own lines
    const auto silent_since = silence();
    const bool noticed = sink.wait_for([&] { return sink.has_log(lost); }, 25000);
    const auto after =
        std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - silent_since);
    const std::size_t stale = quotes_from(0);
    std::cerr << "silent path noticed after " << after.count() << " ms\n";
    ASSERT_TRUE(noticed);
    EXPECT_GE(after.count(), 9000);
    EXPECT_LE(after.count(), 20000);

    // Back: the worker's reconnect, relogin and registrations, and quotes of the new
    // connection only.
    silenced = !firewall("-D", server->port());
    ASSERT_FALSE(silenced);
    ASSERT_TRUE(server->wait_for(
        [&] {
            const auto sessions = server->sessions();
            const auto now = sessions.find(1);
            return now != sessions.end() && now->second.logged_in &&
                   now->second.registered == std::set<std::string>{"0", "SIMA01"};
        },
        20000));
    EXPECT_EQ(server->login_count(), 2u);
    ASSERT_TRUE(sink.wait_for([&] { return quotes_from(1) >= 2; }));
    EXPECT_EQ(quotes_from(0), stale) << "a quote of the lost connection came after its loss";
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 0u);  // a reconnect, as after a reset
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("client readline error(n_recved=-1, errno=" + std::to_string(ETIMEDOUT)),
              std::string::npos)
        << out;
}

TEST_F(silent_path, without_the_bound_nothing_is_noticed) {
    ASSERT_NO_FATAL_FAILURE(start("0"));
    silence();
    EXPECT_FALSE(sink.wait_for([&] { return sink.has_log(lost); }, 20000));
    EXPECT_EQ(server->accepted_count(), 1u);
}

}  // namespace
