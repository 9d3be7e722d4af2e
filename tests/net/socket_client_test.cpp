#include "net/socket_client.h"
#include "net/socket_cache_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "connection.h"
#include "platform/thread.h"

namespace {

const char* const loopback = "127.0.0.1";

// Notes which thread closed the socket, to tell whether close() waited for the wait thread
// (which closes the socket on its way out) or closed it itself.
class probe_client : public socket_client {
public:
    std::atomic<std::uint32_t> closing_thread{0};

protected:
    bool close_socket() override {
        if (get_socket() != platform::invalid_socket) {
            closing_thread.store(platform::current_thread_id());
        }
        return socket_client::close_socket();
    }
};

// No event, -1 from send and true from close, before and after a refused connect.
template <class CLIENT>
void expect_quiet_refusal(CLIENT& client) {
    event_recorder recorder;
    EXPECT_EQ(client.send("x", 1), -1);
    EXPECT_TRUE(client.close());
    loopback_peer peer;
    const std::uint16_t port = peer.port();
    peer.stop_listening();
    EXPECT_FALSE(client.connect(loopback, port, &event_recorder::callback, &recorder));
    EXPECT_EQ(client.get_socket(), platform::invalid_socket);
    EXPECT_FALSE(client.is_connected());
    EXPECT_EQ(client.send("x", 1), -1);
    EXPECT_TRUE(client.close());
    EXPECT_TRUE(recorder.snapshot().empty());
}

// Each test may connect its probe client to a loopback peer.
struct net_socket_client : ::testing::Test, connection<probe_client> {};

TEST_F(net_socket_client, unconnected_clients_refuse_quietly) {
    socket_client plain;
    expect_quiet_refusal(plain);
    // The cached client keeps its receive thread running after the refusal until close().
    socket_cache_client cached(8192);
    expect_quiet_refusal(cached);
}

TEST_F(net_socket_client, events_come_on_their_threads_and_close_waits_for_the_wait_thread) {
    ASSERT_TRUE(open());
    const std::uint32_t me = platform::current_thread_id();
    const std::uint32_t wait_thread = recorder.first_thread(EVENT_CONNECT);
    EXPECT_NE(wait_thread, me);

    EXPECT_EQ(client.send("hello", 5), 5);
    EXPECT_EQ(peer.receive(far_end, 5), "hello");
    ASSERT_TRUE(peer.send_all(far_end, "abc"));
    ASSERT_TRUE(recorder.wait_for_type(EVENT_RECV));
    EXPECT_EQ(recorder.received(), std::vector<std::string>{"abc"});
    EXPECT_EQ(recorder.first_thread(EVENT_RECV), wait_thread);
    EXPECT_EQ(recorder.first_thread(EVENT_SEND), me);

    EXPECT_TRUE(client.close());
    EXPECT_EQ(client.closing_thread.load(), wait_thread);
    EXPECT_EQ(client.get_socket(), platform::invalid_socket);
    EXPECT_FALSE(client.is_connected());
    EXPECT_EQ(recorder.first_thread(EVENT_LOCALE_DISCONNECT), me);
    EXPECT_TRUE(client.close());
    const std::vector<std::uint32_t> expected{EVENT_CONNECT, EVENT_SEND, EVENT_RECV,
                                              EVENT_LOCALE_DISCONNECT};
    EXPECT_EQ(recorder.types(), expected);
    EXPECT_TRUE(peer.wait_for_end(far_end));
}

TEST_F(net_socket_client, peer_close_gives_one_remote_disconnect) {
    ASSERT_TRUE(open());
    close_far_end();
    ASSERT_TRUE(recorder.wait_for_type(EVENT_REMOTE_DISCONNECT));
    EXPECT_EQ(recorder.first_thread(EVENT_REMOTE_DISCONNECT), recorder.first_thread(EVENT_CONNECT));
    EXPECT_FALSE(client.is_connected());
    // close() waits for the wait thread, so nothing can come after it.
    EXPECT_TRUE(client.close());
    EXPECT_EQ(client.get_socket(), platform::invalid_socket);
    const std::vector<std::uint32_t> expected{EVENT_CONNECT, EVENT_REMOTE_DISCONNECT};
    EXPECT_EQ(recorder.types(), expected);
}

TEST_F(net_socket_client, receives_at_most_one_buffer_per_event) {
    ASSERT_TRUE(open());
    std::string bytes(10000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(peer.send_all(far_end, bytes));
    ASSERT_TRUE(recorder.wait_for([&](const event_recorder::events& all) {
        std::size_t total = 0;
        for (const recorded_event& e : all) total += e.data.size();
        return total >= bytes.size();
    }));
    const std::vector<std::string> received = recorder.received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0].size(), 8192u);
    std::string joined;
    for (const std::string& part : received) joined += part;
    EXPECT_EQ(joined, bytes);
}

TEST_F(net_socket_client, callback_may_close_on_the_wait_thread) {
    recorder.after = [this](socket_event* event) {
        if (event->type() == EVENT_RECV) client.close();
    };
    ASSERT_TRUE(open());
    ASSERT_TRUE(peer.send_all(far_end, "bye"));
    ASSERT_TRUE(recorder.wait_for_type(EVENT_LOCALE_DISCONNECT));
    EXPECT_EQ(recorder.first_thread(EVENT_LOCALE_DISCONNECT), recorder.first_thread(EVENT_CONNECT));
    EXPECT_TRUE(peer.wait_for_end(far_end));
    EXPECT_TRUE(client.close());
    const std::vector<std::uint32_t> expected{EVENT_CONNECT, EVENT_RECV, EVENT_LOCALE_DISCONNECT};
    EXPECT_EQ(recorder.types(), expected);
}

// "client readline error(n_recved=-1, errno=N)" and "event_client_error, ..." on two lines.
bool is_reset_log(const std::string& out) {
    const std::string head = "client readline error(n_recved=-1, errno=";
    const std::string tail = ")\nevent_client_error, will close this socket\n";
    if (out.size() <= head.size() + tail.size() || out.compare(0, head.size(), head) != 0 ||
        out.compare(out.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    const std::string number = out.substr(head.size(), out.size() - head.size() - tail.size());
    return number.find_first_not_of("0123456789") == std::string::npos && number != "0";
}

TEST_F(net_socket_client, a_reset_by_the_peer_is_logged_and_reported_once) {
    ASSERT_TRUE(open());
    testing::internal::CaptureStdout();
    ASSERT_TRUE(platform::socket_set_linger_zero(far_end));
    close_far_end();  // resets the connection
    const bool reported = recorder.wait_for_type(EVENT_REMOTE_DISCONNECT);
    EXPECT_TRUE(client.close());
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(reported);
    // Some socket emulations (wine's) end the connection in order instead; then there is
    // nothing to log.
    EXPECT_TRUE(out.empty() || is_reset_log(out)) << out;
    const std::vector<std::uint32_t> expected{EVENT_CONNECT, EVENT_REMOTE_DISCONNECT};
    EXPECT_EQ(recorder.types(), expected);
}

}  // namespace
