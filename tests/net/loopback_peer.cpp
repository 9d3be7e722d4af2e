#include "loopback_peer.h"

#include "net/winsock_counter.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Waits until s is readable (or has ended), up to the deadline.
bool wait_readable(platform::socket_t s, clock_type::time_point deadline) {
    while (clock_type::now() < deadline) {
        platform::socket_set read;
        read.count = 1;
        read.sockets[0] = s;
        if (platform::socket_wait(&read, nullptr, 10000) > 0) return true;
    }
    return false;
}

}  // namespace

loopback_peer::loopback_peer() : m_port(0) {
    winsock_acquire();
    m_listener = platform::socket_listen_loopback(0, &m_port);
}

loopback_peer::~loopback_peer() {
    stop_listening();
    winsock_release();
}

void loopback_peer::stop_listening() {
    if (m_listener == platform::invalid_socket) return;
    platform::socket_close(m_listener);
    m_listener = platform::invalid_socket;
}

platform::socket_t loopback_peer::accept_one(std::chrono::milliseconds bound) {
    if (m_listener == platform::invalid_socket) return platform::invalid_socket;
    if (!wait_readable(m_listener, clock_type::now() + bound)) return platform::invalid_socket;
    return platform::socket_accept(m_listener);
}

bool loopback_peer::send_all(platform::socket_t s, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n =
            platform::socket_send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string loopback_peer::receive(platform::socket_t s, std::size_t count,
                                   std::chrono::milliseconds bound) {
    const auto deadline = clock_type::now() + bound;
    std::string received;
    char buffer[4096];
    while (received.size() < count && wait_readable(s, deadline)) {
        const int n = platform::socket_recv(s, buffer, static_cast<int>(sizeof buffer));
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

bool loopback_peer::wait_for_end(platform::socket_t s, std::chrono::milliseconds bound) {
    const auto deadline = clock_type::now() + bound;
    char buffer[4096];
    while (wait_readable(s, deadline)) {
        if (platform::socket_recv(s, buffer, static_cast<int>(sizeof buffer)) <= 0) return true;
    }
    return false;
}
