#include "net/socket_client.h"
#include "net/socket_cache_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "event_recorder.h"
#include "loopback_peer.h"
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

std::uint32_t first_thread_of(event_recorder& recorder, std::uint32_t type) {
    for (const recorded_event& e : recorder.snapshot()) {
        if (e.type == type) return e.thread;
    }
    return 0;
}

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

TEST(net_socket_client, unconnected_clients_refuse_quietly) {
    socket_client plain;
    expect_quiet_refusal(plain);
    // The cached client keeps its receive thread running after the refusal until close().
    socket_cache_client cached(8192);
    expect_quiet_refusal(cached);
}

TEST(net_socket_client, events_come_on_their_threads_and_close_waits_for_the_wait_thread) {
    loopback_peer peer;
    event_recorder recorder;
    probe_client client;
    ASSERT_TRUE(client.connect(loopback, peer.port(), &event_recorder::callback, &recorder));
    const platform::socket_t far_end = peer.accept_one();
    ASSERT_NE(far_end, platform::invalid_socket);
    ASSERT_TRUE(recorder.wait_for_type(EVENT_CONNECT));
    const std::uint32_t me = platform::current_thread_id();
    const std::uint32_t wait_thread = first_thread_of(recorder, EVENT_CONNECT);
    EXPECT_NE(wait_thread, me);

    EXPECT_EQ(client.send("hello", 5), 5);
    EXPECT_EQ(peer.receive(far_end, 5), "hello");
    ASSERT_TRUE(peer.send_all(far_end, "abc"));
    ASSERT_TRUE(recorder.wait_for_type(EVENT_RECV));
    EXPECT_EQ(recorder.received(), std::vector<std::string>{"abc"});
    EXPECT_EQ(first_thread_of(recorder, EVENT_RECV), wait_thread);
    EXPECT_EQ(first_thread_of(recorder, EVENT_SEND), me);

    EXPECT_TRUE(client.close());
    EXPECT_EQ(client.closing_thread.load(), wait_thread);
    EXPECT_EQ(client.get_socket(), platform::invalid_socket);
    EXPECT_FALSE(client.is_connected());
    EXPECT_EQ(first_thread_of(recorder, EVENT_LOCALE_DISCONNECT), me);
    EXPECT_TRUE(client.close());
    const std::vector<std::uint32_t> expected{EVENT_CONNECT, EVENT_SEND, EVENT_RECV,
                                              EVENT_LOCALE_DISCONNECT};
    EXPECT_EQ(recorder.types(), expected);
    EXPECT_TRUE(peer.wait_for_end(far_end));
    platform::socket_close(far_end);
}

TEST(net_socket_client, peer_close_gives_one_remote_disconnect) {
    loopback_peer peer;
    event_recorder recorder;
    socket_client client;
    ASSERT_TRUE(client.connect(loopback, peer.port(), &event_recorder::callback, &recorder));
    const platform::socket_t far_end = peer.accept_one();
    ASSERT_NE(far_end, platform::invalid_socket);
    ASSERT_TRUE(recorder.wait_for_type(EVENT_CONNECT));
    platform::socket_close(far_end);

    ASSERT_TRUE(recorder.wait_for_type(EVENT_REMOTE_DISCONNECT));
    EXPECT_EQ(first_thread_of(recorder, EVENT_REMOTE_DISCONNECT),
              first_thread_of(recorder, EVENT_CONNECT));
    EXPECT_FALSE(client.is_connected());
    // close() waits for the wait thread, so nothing can come after it.
    EXPECT_TRUE(client.close());
    EXPECT_EQ(client.get_socket(), platform::invalid_socket);
    const std::vector<std::uint32_t> expected{EVENT_CONNECT, EVENT_REMOTE_DISCONNECT};
    EXPECT_EQ(recorder.types(), expected);
}

TEST(net_socket_client, receives_at_most_one_buffer_per_event) {
    loopback_peer peer;
    event_recorder recorder;
    socket_client client;
    ASSERT_TRUE(client.connect(loopback, peer.port(), &event_recorder::callback, &recorder));
    const platform::socket_t far_end = peer.accept_one();
    ASSERT_NE(far_end, platform::invalid_socket);
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
    EXPECT_TRUE(client.close());
    platform::socket_close(far_end);
}

TEST(net_socket_client, callback_may_close_on_the_wait_thread) {
    loopback_peer peer;
    event_recorder recorder;
    socket_client client;
    recorder.after = [&client](socket_event* event) {
        if (event->type() == EVENT_RECV) client.close();
    };
    ASSERT_TRUE(client.connect(loopback, peer.port(), &event_recorder::callback, &recorder));
    const platform::socket_t far_end = peer.accept_one();
    ASSERT_NE(far_end, platform::invalid_socket);
    ASSERT_TRUE(peer.send_all(far_end, "bye"));

    ASSERT_TRUE(recorder.wait_for_type(EVENT_LOCALE_DISCONNECT));
    EXPECT_EQ(first_thread_of(recorder, EVENT_LOCALE_DISCONNECT),
              first_thread_of(recorder, EVENT_CONNECT));
    EXPECT_TRUE(peer.wait_for_end(far_end));
    EXPECT_TRUE(client.close());
    const std::vector<std::uint32_t> expected{EVENT_CONNECT, EVENT_RECV, EVENT_LOCALE_DISCONNECT};
    EXPECT_EQ(recorder.types(), expected);
    platform::socket_close(far_end);
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

TEST(net_socket_client, a_reset_by_the_peer_is_logged_and_reported_once) {
    loopback_peer peer;
    event_recorder recorder;
    socket_client client;
    ASSERT_TRUE(client.connect(loopback, peer.port(), &event_recorder::callback, &recorder));
    const platform::socket_t far_end = peer.accept_one();
    ASSERT_NE(far_end, platform::invalid_socket);
    ASSERT_TRUE(recorder.wait_for_type(EVENT_CONNECT));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(platform::socket_set_linger_zero(far_end));
    platform::socket_close(far_end);  // resets the connection
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
