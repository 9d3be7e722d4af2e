// Test helpers. connection<CLIENT>: a transport client connected to a loopback_peer, with the
// peer's end and a recorder of the client's events; the test thread only, and it closes both
// ends when it goes. must_finish: a call that has to return within a bound.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <utility>

#include "event_recorder.h"
#include "loopback_peer.h"

// Runs `action` on a thread of its own and waits up to `bound` for it to return. A call that
// hangs cannot be recovered from (it still uses the test's objects), so the test fails by
// ending the process with a message instead of waiting for ever.
template <class ACTION>
void must_finish(const char* what, ACTION action,
                 std::chrono::seconds bound = std::chrono::seconds(20)) {
    std::packaged_task<void()> task(action);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(bound) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not return within %lld s\n", what,
                     static_cast<long long>(bound.count()));
        std::_Exit(1);
    }
    runner.join();
}

template <class CLIENT>
struct connection {
    loopback_peer peer;
    event_recorder recorder;
    CLIENT client;
    platform::socket_t far_end = platform::invalid_socket;

    template <class... ARGS>
    explicit connection(ARGS&&... args) : client(std::forward<ARGS>(args)...) {}
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;
    ~connection() {
        must_finish("close", [this] { client.close(); });
        close_far_end();
    }

    // Connects and accepts (set the recorder's hooks before); true once the client has
    // reported the connection.
    bool open() {
        if (!client.connect("127.0.0.1", peer.port(), &event_recorder::callback, &recorder)) {
            return false;
        }
        far_end = peer.accept_one();
        return far_end != platform::invalid_socket && recorder.wait_for_type(EVENT_CONNECT);
    }
    void close_far_end() {
        if (far_end != platform::invalid_socket) platform::socket_close(far_end);
        far_end = platform::invalid_socket;
    }
};
