// Test helper. A bare TCP client on 127.0.0.1 that sends and receives bytes with bounded
// waits, standing in for the client library when the server itself is under test. One thread
// uses it; it owns its socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace sim_test {

class raw_client {
public:
    explicit raw_client(std::uint16_t port) : m_socket(platform::socket_open_tcp()) {
        m_connected = m_socket != platform::invalid_socket &&
                      platform::socket_connect(m_socket, "127.0.0.1", port);
    }
    ~raw_client() { close(); }
    raw_client(const raw_client&) = delete;
    raw_client& operator=(const raw_client&) = delete;

    bool connected() const { return m_connected; }

    bool send(const std::string& bytes) {
        return platform::socket_send(m_socket, bytes.data(), static_cast<int>(bytes.size())) ==
               static_cast<int>(bytes.size());
    }

    // One recv once the socket is readable: its result (bytes, 0 at the end, negative on an
    // error), or timed_out when nothing came within timeout_ms.
    static constexpr int timed_out = -1000;
    int recv_once(std::string& out, int timeout_ms) {
        platform::socket_set readable;
        readable.count = 1;
        readable.sockets[0] = m_socket;
        if (platform::socket_wait(&readable, nullptr, timeout_ms * 1000L) <= 0) return timed_out;
        char buffer[4096];
        const int n = platform::socket_recv(m_socket, buffer, static_cast<int>(sizeof buffer));
        if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
        return n;
    }

    // What arrives until at least `count` bytes are there or timeout_ms has passed. Reads are
    // not limited to `count`, so bytes that came early show up as extra ones.
    std::string recv_at_least(std::size_t count, int timeout_ms = 5000) {
        using clock = std::chrono::steady_clock;
        const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
        std::string got;
        while (got.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            if (left.count() <= 0) break;
            const int n = recv_once(got, static_cast<int>(left.count()));
            if (n <= 0 && n != timed_out) break;
        }
        return got;
    }

    void close() {
        if (m_socket == platform::invalid_socket) return;
        platform::socket_close(m_socket);
        m_socket = platform::invalid_socket;
    }

private:
    platform::socket_t m_socket;
    bool m_connected = false;
};

}  // namespace sim_test
