#include "net/socket_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "net/socket_cache_client.h"
#include "platform/thread.h"

namespace {

const char* const loopback = "127.0.0.1";
using types = std::vector<std::uint32_t>;

struct net_socket_client : ::testing::Test, connection<socket_client> {};

// A connect that fails fires nothing and leaves sends and close quiet.
template <class CLIENT>
void expect_quiet_failure(CLIENT& client, std::uint16_t port) {
    event_recorder recorder;
    EXPECT_FALSE(client.connect(loopback, port, &event_recorder::callback, &recorder));
    EXPECT_EQ(client.get_socket(), platform::invalid_socket);
    EXPECT_FALSE(client.is_connected());
    EXPECT_EQ(client.send("x", 1), -1);
    EXPECT_TRUE(client.close());
    EXPECT_TRUE(recorder.types().empty());
}

TEST_F(net_socket_client, refused_and_unanswered_connects_fail_quietly) {
    const std::uint16_t refusing = loopback_peer().port();  // closed again: connects are refused
    expect_quiet_failure(client, refusing);
    socket_cache_client cached(8192);  // keeps its receive thread until close()
    expect_quiet_failure(cached, refusing);
    // A listener whose backlog is full and that never accepts leaves SYNs unanswered: the
    // system alone would retry for minutes.
    loopback_peer full(0);
    std::vector<platform::socket_t> fillers;
    do {
        fillers.push_back(platform::socket_open_tcp());
    } while (platform::socket_connect(fillers.back(), loopback, full.port(), 300) &&
             fillers.size() < 16);
    const auto start = std::chrono::steady_clock::now();
    must_finish("connect to a full backlog", [&] { expect_quiet_failure(client, full.port()); });
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(socket_client::connect_timeout_ms));
    for (platform::socket_t s : fillers) platform::socket_close(s);
}

TEST_F(net_socket_client, events_come_on_their_threads_and_an_idle_close_returns_at_once) {
    ASSERT_TRUE(open());
    const std::uint32_t me = platform::current_thread_id();
    EXPECT_EQ(client.send("hello", 5), 5);
    EXPECT_EQ(peer.receive(far_end, 5), "hello");
    std::string bytes(10000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(peer.send_all(far_end, bytes));
    std::string joined;
    ASSERT_TRUE(recorder.wait_for([&](const event_recorder::events& all) {
        joined.clear();
        for (const recorded_event& e : all) joined += e.data;
        return joined.size() >= bytes.size();
    }));
    EXPECT_EQ(joined, bytes);
    EXPECT_EQ(recorder.received().at(0).size(), 8192u);  // one receive buffer per event
    const std::uint32_t wait_thread = recorder.first_thread(EVENT_CONNECT);
    EXPECT_NE(wait_thread, me);
    EXPECT_EQ(recorder.first_thread(EVENT_RECV), wait_thread);
    EXPECT_EQ(recorder.first_thread(EVENT_SEND), me);
    // The wait thread blocks on the quiet socket with no time-out: only the wake ends it.
    std::uint32_t closer = 0;
    must_finish("close of an idle connection", [&] {
        closer = platform::current_thread_id();
        EXPECT_TRUE(client.close());
    });
    EXPECT_EQ(client.get_socket(), platform::invalid_socket);
    EXPECT_TRUE(client.close());
    const types seen = recorder.types();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), EVENT_LOCALE_DISCONNECT), 1);
    EXPECT_EQ(seen.back(), EVENT_LOCALE_DISCONNECT);
    EXPECT_EQ(recorder.first_thread(EVENT_LOCALE_DISCONNECT), closer);
    EXPECT_TRUE(peer.wait_for_end(far_end));
}

// "client readline error(n_recved=-1, errno=N)" with N > 0, then "event_client_error, ...".
bool is_reset_log(const std::string& out) {
    int error = 0, used = 0;
    std::sscanf(out.c_str(), "client readline error(n_recved=-1, errno=%d)%n", &error, &used);
    return error > 0 && used > 0 &&
           out.substr(used) == "\nevent_client_error, will close this socket\n";
}

// Each end of a connection is reported once, on the wait thread: the peer's orderly end, its
// reset (logged where the system reports resets), and a close from the owner's callback.
TEST_F(net_socket_client, every_kind_of_end_is_reported_once_on_the_wait_thread) {
    const bool resets_reported = peer.resets_are_reported();
    enum { orderly, reset, owner_closes };
    recorder.after = [this](socket_event* event) {
        if (event->type() == EVENT_RECV) client.close();
    };
    for (const int end : {orderly, reset, owner_closes}) {
        recorder.clear();
        ASSERT_TRUE(open());
        testing::internal::CaptureStdout();
        if (end == reset) platform::socket_set_linger_zero(far_end);
        if (end == owner_closes) {
            ASSERT_TRUE(peer.send_all(far_end, "bye"));
            EXPECT_TRUE(peer.wait_for_end(far_end));
        }
        close_far_end();
        const std::uint32_t last =
            end == owner_closes ? EVENT_LOCALE_DISCONNECT : EVENT_REMOTE_DISCONNECT;
        const bool reported = recorder.wait_for_type(last);
        EXPECT_TRUE(client.close());
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(reported);
        EXPECT_EQ(recorder.types(), end == owner_closes ? types({EVENT_CONNECT, EVENT_RECV, last})
                                                        : types({EVENT_CONNECT, last}));
        EXPECT_EQ(recorder.first_thread(last), recorder.first_thread(EVENT_CONNECT));
        if (end != reset) {
            EXPECT_EQ(out, "");
        } else if (resets_reported) {
            EXPECT_TRUE(is_reset_log(out)) << out;
        }
    }
}

// Threads that keep sending while the server drops the connection: the handle they send on
// stays theirs until close(), so a socket opened meanwhile never gets its number and never
// receives their bytes (and ThreadSanitizer sees no close racing a send).
TEST_F(net_socket_client, senders_never_write_into_a_handle_closed_under_them) {
    recorder.skip_sends = true;
    for (int round = 0; round < 20 && !HasFailure(); ++round) {
        recorder.clear();
        ASSERT_TRUE(open());
        std::atomic<bool> sending{true};
        std::vector<std::thread> senders;
        for (int i = 0; i < 3; ++i) {
            senders.emplace_back([&] {
                while (sending.load()) client.send("heartbeat", 9);
            });
        }
        platform::socket_set_linger_zero(far_end);
        close_far_end();
        const bool ended = recorder.wait_for_type(EVENT_REMOTE_DISCONNECT);
        const platform::socket_t newcomer = platform::socket_open_tcp();
        platform::socket_connect(newcomer, loopback, peer.port(), 5000);
        const platform::socket_t newcomer_far = peer.accept_one();
        const auto moment = std::chrono::milliseconds(20);
        EXPECT_EQ(peer.receive(newcomer_far, 1, moment) + peer.receive(newcomer, 1, moment), "");
        sending.store(false);
        for (std::thread& t : senders) t.join();
        platform::socket_close(newcomer);
        platform::socket_close(newcomer_far);
        EXPECT_TRUE(ended);
        must_finish("close after a remote end", [this] { client.close(); });
    }
}

}  // namespace
