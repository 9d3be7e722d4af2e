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
using kestro_state = kestro_socket_thread::thread_state;

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
    c.close_far_end();
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_REMOTE_DISCONNECT));
    // Data and the connection's own events all come on the receive thread, the data first.
    const std::uint32_t receive_thread = c.client.receive_thread().get_thread_id();
    EXPECT_NE(receive_thread, platform::current_thread_id());
    for (const std::uint32_t type : {EVENT_CONNECT, EVENT_RECV, EVENT_REMOTE_DISCONNECT}) {
        EXPECT_EQ(c.recorder.first_thread(type), receive_thread) << type;
    }
    EXPECT_TRUE(c.client.close());
    EXPECT_EQ(c.recorder.types(),
              std::vector<std::uint32_t>({EVENT_CONNECT, EVENT_RECV, EVENT_RECV, EVENT_RECV,
                                          EVENT_RECV, EVENT_REMOTE_DISCONNECT}));
}

// The receive thread blocks with no time-out, so each of these must wake it, or the test hangs
// (and must_finish fails it): data, a pause, a resume, a close; and with no connection left
// after a loss, a pause and a stop.
TEST(net_socket_cache_client, data_pause_resume_loss_and_close_each_wake_the_receive_thread) {
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "after a loss" : "connected");
        connection<socket_cache_client> c(8192);
        kestro_socket_thread& thread = c.client.receive_thread();
        ASSERT_TRUE(c.open());
        if (lost) {
            c.close_far_end();
            ASSERT_TRUE(c.recorder.wait_for_type(EVENT_REMOTE_DISCONNECT));
        }
        must_finish("pause", [&] { EXPECT_TRUE(thread.pause()); });
        EXPECT_EQ(thread.get_state(), kestro_state::STATE_PAUSED);
        if (!lost) {
            // Paused, it does not read: what arrives waits in the socket until the resume.
            ASSERT_TRUE(c.peer.send_all(c.far_end, "held"));
            EXPECT_FALSE(c.recorder.wait_for(
                [](const event_recorder::events& all) { return all.size() > 1; },
                std::chrono::milliseconds(300)));
        }
        ASSERT_TRUE(thread.start());
        if (!lost) {
            ASSERT_TRUE(c.recorder.wait_for_type(EVENT_RECV));
        }
        must_finish("close", [&] { EXPECT_TRUE(c.client.close()); });
        EXPECT_EQ(thread.get_state(), kestro_state::STATE_STOPPED);
        const std::vector<std::uint32_t> expected =
            lost ? std::vector<std::uint32_t>{EVENT_CONNECT, EVENT_REMOTE_DISCONNECT}
                 : std::vector<std::uint32_t>{EVENT_CONNECT, EVENT_RECV, EVENT_LOCALE_DISCONNECT};
        EXPECT_EQ(c.recorder.types(), expected);
        if (!lost) {
            EXPECT_EQ(c.recorder.received(), std::vector<std::string>{"held"});
        }
    }
}

char pattern(std::size_t index) {
    return static_cast<char>(index % 251);
}

// Consumes every whole message of 10 bytes it is offered, so that a cut one waits for the next
// receive, checking the byte pattern, but only once released.
struct slow_owner {
    std::atomic<bool> released{false};
    std::atomic<bool> holding{false};
    std::atomic<std::size_t> consumed{0};
    std::atomic<bool> in_order{true};

    static int callback(socket_event* event, void* user) {
        auto* self = static_cast<slow_owner*>(user);
        if (event->type() != EVENT_RECV) return 0;
        self->holding.store(true);
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
bool eventually(CONDITION condition, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    return condition();
}

// A slow owner holds the server back through TCP: while it holds its first delivery, the
// socket is not read, so a sender of far more than the system's buffers take cannot finish;
// once released, every byte arrives in order.
TEST(net_socket_cache_client, a_slow_owner_holds_the_sender_back_and_loses_nothing) {
    constexpr std::size_t chunk = 8000;   // whole messages
    constexpr std::size_t chunks = 4096;  // 32 MB
    loopback_peer peer;
    slow_owner owner;
    socket_cache_client client(16);  // the stream has to grow
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port(), &slow_owner::callback, &owner));
    const platform::socket_t far_end = peer.accept_one();
    std::atomic<bool> all_sent{false};
    std::thread sender([&] {
        std::string bytes(chunk, '\0');
        for (std::size_t c = 0; c < chunks; ++c) {
            for (std::size_t i = 0; i < chunk; ++i) bytes[i] = pattern(c * chunk + i);
            if (!loopback_peer::send_all(far_end, bytes)) return;
        }
        all_sent.store(true);
    });
    EXPECT_TRUE(eventually([&] { return owner.holding.load(); }));
    EXPECT_FALSE(eventually([&] { return all_sent.load(); }, std::chrono::milliseconds(1000)));
    owner.released.store(true);
    EXPECT_TRUE(eventually([&] { return owner.consumed.load() == chunk * chunks; }));
    EXPECT_TRUE(owner.in_order.load());
    sender.join();
    must_finish("close", [&] { client.close(); });
    platform::socket_close(far_end);
}

}  // namespace
