// Test helper. loopback_peer: the far end of the transport's connections in tests, a
// listening socket on 127.0.0.1 with an ephemeral port and the connections it accepts. Used
// by the test thread only; every wait is bounded. It owns its listener and holds the sockets
// start-up counter while it lives.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/socket.h"

class loopback_peer {
public:
    // A backlog of 0 queues as few unaccepted connections as the system allows.
    explicit loopback_peer(int backlog = -1);
    ~loopback_peer();
    loopback_peer(const loopback_peer&) = delete;
    loopback_peer& operator=(const loopback_peer&) = delete;

    std::uint16_t port() const { return m_port; }
    // Accepts the next connection, waiting up to five seconds; invalid_socket if none came.
    platform::socket_t accept_one();
    static bool send_all(platform::socket_t s, const std::string& bytes);
    // Receives until `count` bytes came, the connection ended (*ended, when not null) or
    // `bound` passed.
    static std::string receive(platform::socket_t s, std::size_t count,
                               std::chrono::milliseconds bound = std::chrono::seconds(5),
                               bool* ended = nullptr);
    // True once the connection has ended on the far side (end of stream or reset).
    static bool wait_for_end(platform::socket_t s);
    // Whether this system reports a connection closed with SO_LINGER 0 as a reset to the
    // other end (some socket emulations end it in order instead).
    bool resets_are_reported();

private:
    platform::socket_t m_listener;
    std::uint16_t m_port;
};
