// Test helper. connection<CLIENT>: a transport client connected to a loopback_peer, with the
// peer's end and a recorder of the client's events. The test thread only; it closes both ends
// when it goes.
#pragma once

#include <utility>

#include "event_recorder.h"
#include "loopback_peer.h"

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
        client.close();
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
