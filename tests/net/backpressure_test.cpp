// A slow owner holds the server back through TCP instead of letting the receive queue grow.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "loopback_peer.h"
#include "net/socket_cache_client.h"

namespace {

constexpr std::size_t chunk = 8192;
constexpr std::size_t chunks = 4096;  // 32 MiB: far more than the queue and the socket hold

char pattern(std::size_t index) { return static_cast<char>(index % 251); }

// Consumes everything it is offered, checking the byte pattern, but only once released.
struct slow_owner {
    std::atomic<bool> released{false};
    std::atomic<std::size_t> consumed{0};
    std::atomic<bool> in_order{true};

    static int callback(socket_event* event, void* user) {
        auto* self = static_cast<slow_owner*>(user);
        if (event->type() != EVENT_RECV) return 0;
        while (!self->released.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::size_t start = self->consumed.load();
        for (std::uint32_t i = 0; i < event->length(); ++i) {
            if (event->data()[i] != pattern(start + i)) self->in_order.store(false);
        }
        self->consumed.store(start + event->length());
        event->set_processed(static_cast<std::int32_t>(event->length()));
        return 0;
    }
};

template <class Condition>
bool wait_until(Condition condition, std::chrono::seconds bound = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(net_socket_cache_client, slow_owner_bounds_the_receive_queue_and_loses_nothing) {
    loopback_peer peer;
    slow_owner owner;
    socket_cache_client client(8192);
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port(), &slow_owner::callback, &owner));
    const platform::socket_t far_end = peer.accept_one();
    ASSERT_NE(far_end, platform::invalid_socket);

    std::atomic<std::size_t> sent_chunks{0};
    std::thread sender([&] {
        std::string bytes(chunk, '\0');
        for (std::size_t c = 0; c < chunks; ++c) {
            for (std::size_t i = 0; i < chunk; ++i) bytes[i] = pattern(c * chunk + i);
            if (!peer.send_all(far_end, bytes)) return;
            sent_chunks.store(c + 1);
        }
    });

    // The queue fills up to its bound and stays there while the sender is held back.
    ASSERT_TRUE(wait_until([&] {
        return client.queued_receives() >= socket_cache_client::max_queued_receives;
    }));
    for (int look = 0; look < 50; ++look) {
        EXPECT_LE(client.queued_receives(), socket_cache_client::max_queued_receives);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_LT(sent_chunks.load(), chunks);

    owner.released.store(true);
    sender.join();
    ASSERT_EQ(sent_chunks.load(), chunks);
    ASSERT_TRUE(wait_until([&] { return owner.consumed.load() == chunk * chunks; }));
    EXPECT_TRUE(owner.in_order.load());
    client.close();
    platform::socket_close(far_end);
}

TEST(net_socket_cache_client, close_ends_the_wait_of_a_held_back_wait_thread) {
    loopback_peer peer;
    slow_owner owner;
    auto client = std::make_unique<socket_cache_client>(8192);
    ASSERT_TRUE(client->connect("127.0.0.1", peer.port(), &slow_owner::callback, &owner));
    const platform::socket_t far_end = peer.accept_one();
    ASSERT_NE(far_end, platform::invalid_socket);
    std::atomic<bool> stop_sending{false};
    std::thread sender([&] {
        const std::string bytes(chunk, 'x');
        while (!stop_sending.load() && peer.send_all(far_end, bytes)) {
        }
    });
    ASSERT_TRUE(wait_until([&] {
        return client->queued_receives() >= socket_cache_client::max_queued_receives;
    }));
    // Close while the wait thread is held back: the receive thread's stop is acknowledged once
    // the owner's current call returns, and the held-back wait thread must see that stop too,
    // or close never returns.
    std::thread closer([&] { client->close(); });
    owner.released.store(true);
    closer.join();
    client.reset();
    stop_sending.store(true);
    sender.join();  // the reset connection fails its send
    platform::socket_close(far_end);
}

}  // namespace
