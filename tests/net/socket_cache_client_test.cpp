#include "net/socket_cache_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "platform/thread.h"

namespace {

constexpr std::size_t message_size = 10;

TEST(net_socket_cache_client, unconsumed_bytes_are_shown_again_and_whole_messages_at_once) {
    connection<socket_cache_client> c(16);
    // Takes one whole message per call, as a message reader does, leaving a partial one.
    c.recorder.consume = [](const std::string& data) {
        return data.size() >= message_size ? static_cast<std::int32_t>(message_size) : 0;
    };
    ASSERT_TRUE(c.open());
    ASSERT_TRUE(c.peer.send_all(c.far_end, "ABCD"));
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_RECV, 1));
    ASSERT_TRUE(c.peer.send_all(c.far_end, "EFGHIJ0123456789abcdefghij"));
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_RECV, 4));
    const std::vector<std::string> expected{"ABCD", "ABCDEFGHIJ0123456789abcdefghij",
                                            "0123456789abcdefghij", "abcdefghij"};
    EXPECT_EQ(c.recorder.received(), expected);
    // Data come on the receive thread; the connection events on the wait thread.
    const std::uint32_t receive_thread = c.recorder.first_thread(EVENT_RECV);
    EXPECT_NE(receive_thread, c.recorder.first_thread(EVENT_CONNECT));
    EXPECT_NE(receive_thread, platform::current_thread_id());
    c.close_far_end();
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_REMOTE_DISCONNECT));
    EXPECT_TRUE(c.client.close());
    EXPECT_EQ(c.recorder.types(),
              std::vector<std::uint32_t>({EVENT_CONNECT, EVENT_RECV, EVENT_RECV, EVENT_RECV,
                                          EVENT_RECV, EVENT_REMOTE_DISCONNECT}));
}

char pattern(std::size_t index) {
    return static_cast<char>(index % 251);
}

// Consumes every whole message of 10 bytes it is offered, so that a cut one waits for the next
// receive, checking the byte pattern, but only once released.
struct slow_owner {
    std::atomic<bool> released{false};
    std::atomic<std::size_t> consumed{0};
    std::atomic<bool> in_order{true};

    static int callback(socket_event* event, void* user) {
        auto* self = static_cast<slow_owner*>(user);
        if (event->type() != EVENT_RECV) return 0;
        while (!self->released.load()) std::this_thread::yield();
        const std::size_t start = self->consumed.load();
        const std::size_t whole = event->length() / message_size * message_size;
        for (std::size_t i = 0; i < whole; ++i) {
            if (event->data()[i] != pattern(start + i)) self->in_order.store(false);
        }
        self->consumed.store(start + whole);
        event->set_processed(static_cast<std::int32_t>(whole));
        return 0;
    }
};

template <class CONDITION>
bool eventually(CONDITION condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    return condition();
}

// A slow owner holds an endless flood back through TCP, loses nothing once released, and a
// close meets a wait thread held back by the full queue (the receive thread stops first).
TEST(net_socket_cache_client, a_slow_owner_bounds_the_queue_loses_nothing_and_can_close) {
    constexpr std::size_t chunk = 8192;
    loopback_peer peer;
    slow_owner owner;
    socket_cache_client client(16);  // the stream has to grow
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port(), &slow_owner::callback, &owner));
    const platform::socket_t far_end = peer.accept_one();
    std::atomic<std::size_t> sent{0};
    std::thread sender([&] {
        std::string bytes(chunk, '\0');
        for (std::size_t c = 0;; ++c) {
            for (std::size_t i = 0; i < chunk; ++i) bytes[i] = pattern(c * chunk + i);
            if (!loopback_peer::send_all(far_end, bytes)) return;
            sent.store(c + 1);
        }
    });
    const std::size_t most = socket_cache_client::max_queued_receives;
    EXPECT_TRUE(eventually([&] { return client.queued_receives() >= most; }));
    const std::size_t sent_when_full = sent.load();
    for (int look = 0; look < 1000; ++look) EXPECT_LE(client.queued_receives(), most);
    EXPECT_LT(sent.load(), sent_when_full + 1024);  // far less than TCP would take in 8 MiB
    owner.released.store(true);
    EXPECT_TRUE(eventually([&] { return owner.consumed.load() > 4 * chunk * sent_when_full; }));
    EXPECT_TRUE(owner.in_order.load());
    must_finish("close of a held-back connection", [&] { client.close(); });
    sender.join();  // its next send fails on the reset connection
    platform::socket_close(far_end);
}

}  // namespace
