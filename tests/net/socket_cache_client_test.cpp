#include "net/socket_cache_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "platform/thread.h"
#include "thread_count.h"

namespace {

const char* const loopback = "127.0.0.1";
constexpr std::size_t message_size = 10;

// An owner that takes one whole message of message_size bytes per call, as a message
// reader does, and leaves a partial one for later.
std::int32_t one_message(const std::string& data) {
    return data.size() >= message_size ? static_cast<std::int32_t>(message_size) : 0;
}

// A cache client with room for 16 bytes, connected to a loopback peer, whose owner takes
// what `consume` says.
struct cached_connection : connection<socket_cache_client> {
    explicit cached_connection(std::function<std::int32_t(const std::string&)> consume)
        : connection(16) {
        recorder.consume = std::move(consume);
    }
};

TEST(net_socket_cache_client, partial_message_is_shown_again_from_its_first_byte) {
    cached_connection c(one_message);
    ASSERT_TRUE(c.open());
    ASSERT_TRUE(c.peer.send_all(c.far_end, "ABCD"));
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_RECV, 1));
    ASSERT_TRUE(c.peer.send_all(c.far_end, "EFGHIJ"));
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_RECV, 2));
    // Everything is consumed now: the next call must be for the next bytes.
    ASSERT_TRUE(c.peer.send_all(c.far_end, "KLMNOPQRST"));
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_RECV, 3));
    const std::vector<std::string> expected{"ABCD", "ABCDEFGHIJ", "KLMNOPQRST"};
    EXPECT_EQ(c.recorder.received(), expected);

    // Data come on the receive thread; the connection events on the wait thread.
    const std::uint32_t receive_thread = c.recorder.first_thread(EVENT_RECV);
    EXPECT_NE(receive_thread, c.recorder.first_thread(EVENT_CONNECT));
    EXPECT_NE(receive_thread, platform::current_thread_id());

    EXPECT_TRUE(c.client.close());
    const std::vector<std::uint32_t> types{EVENT_CONNECT, EVENT_RECV, EVENT_RECV, EVENT_RECV,
                                           EVENT_LOCALE_DISCONNECT};
    EXPECT_EQ(c.recorder.types(), types);
    EXPECT_EQ(c.recorder.snapshot().back().thread, platform::current_thread_id());
}

TEST(net_socket_cache_client, messages_of_one_delivery_are_offered_in_one_run) {
    cached_connection c(one_message);
    ASSERT_TRUE(c.open());
    ASSERT_TRUE(c.peer.send_all(c.far_end, "0123456789abcdefghij"));
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_RECV, 2));
    const std::vector<std::string> expected{"0123456789abcdefghij", "abcdefghij"};
    EXPECT_EQ(c.recorder.received(), expected);

    // A peer that leaves: one remote disconnect, and close() adds nothing.
    c.close_far_end();
    ASSERT_TRUE(c.recorder.wait_for_type(EVENT_REMOTE_DISCONNECT));
    EXPECT_TRUE(c.client.close());
    const std::vector<std::uint32_t> types{EVENT_CONNECT, EVENT_RECV, EVENT_RECV,
                                           EVENT_REMOTE_DISCONNECT};
    EXPECT_EQ(c.recorder.types(), types);
}

TEST(net_socket_cache_client, a_stream_sent_in_odd_pieces_arrives_whole_and_in_order) {
    std::string consumed;
    // Takes every whole message it is shown, so the stream grows, compacts and empties.
    cached_connection c([&consumed](const std::string& data) {
        const std::size_t whole = data.size() / message_size * message_size;
        consumed.append(data, 0, whole);
        return static_cast<std::int32_t>(whole);
    });
    ASSERT_TRUE(c.open());
    std::string stream;
    for (int i = 0; i < 2000; ++i) stream += "m" + std::to_string(1000000000 + i).substr(1);
    ASSERT_EQ(stream.size() % message_size, 0u);
    for (std::size_t at = 0, piece = 1; at < stream.size(); at += piece, piece = piece % 97 + 13) {
        ASSERT_TRUE(c.peer.send_all(c.far_end, stream.substr(at, piece)));
    }
    ASSERT_TRUE(c.recorder.wait_for(
        [&](const event_recorder::events&) { return consumed.size() >= stream.size(); }));
    EXPECT_EQ(consumed, stream);
}

// One full connection: connect, a delivery, close, destruction.
void open_use_and_close(loopback_peer& peer) {
    event_recorder recorder;
    recorder.consume = [](const std::string& data) {
        return static_cast<std::int32_t>(data.size());
    };
    auto client = std::make_unique<socket_cache_client>(8192);
    ASSERT_TRUE(client->connect(loopback, peer.port(), &event_recorder::callback, &recorder));
    const platform::socket_t far_end = peer.accept_one();
    ASSERT_NE(far_end, platform::invalid_socket);
    EXPECT_TRUE(peer.send_all(far_end, std::string(3000, 'q')));
    EXPECT_TRUE(recorder.wait_for_type(EVENT_RECV, 1));
    EXPECT_TRUE(client->close());
    client.reset();
    platform::socket_close(far_end);
}

TEST(net_socket_cache_client, no_thread_or_buffer_outlives_close_and_destruction) {
    loopback_peer peer;
    // Counted after a first connection: runtimes (a sanitizer's, for one) start helper
    // threads of their own with the first thread.
    open_use_and_close(peer);
    const int threads_before = process_thread_count();
    for (int i = 0; i < 200 && !HasFatalFailure(); ++i) open_use_and_close(peer);
    if (!thread_count_is_meaningful()) GTEST_SKIP() << "no thread list on this system";
    // Detached wait threads take a moment to vanish after they have let go of the client.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (process_thread_count() != threads_before &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_EQ(process_thread_count(), threads_before);
}

}  // namespace
