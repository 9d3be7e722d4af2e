#include "loopback_peer.h"

#include "net/winsock_counter.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Waits until s is readable (or has ended), up to the deadline.
bool wait_readable(platform::socket_t s, clock_type::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - clock_type::now());
        if (left.count() <= 0) return false;
        platform::socket_set read;
        read.count = 1;
        read.sockets[0] = s;
        const int ready = platform::socket_wait(&read, nullptr, static_cast<long>(left.count()));
        if (ready != 0) return ready > 0;
    }
}

}  // namespace

loopback_peer::loopback_peer(int backlog) : m_port(0) {
    winsock_acquire();
    m_listener = platform::socket_listen_loopback(0, &m_port, backlog);
}

loopback_peer::~loopback_peer() {
    if (m_listener != platform::invalid_socket) platform::socket_close(m_listener);
    winsock_release();
}

platform::socket_t loopback_peer::accept_one() {
    if (!wait_readable(m_listener, clock_type::now() + std::chrono::seconds(5))) {
        return platform::invalid_socket;
    }
    return platform::socket_accept(m_listener);
}

bool loopback_peer::send_all(platform::socket_t s, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const int n =
            platform::socket_send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string loopback_peer::receive(platform::socket_t s, std::size_t count,
                                   std::chrono::milliseconds bound, bool* ended) {
    const auto deadline = clock_type::now() + bound;
    std::string received;
    char buffer[4096];
    while (received.size() < count && wait_readable(s, deadline)) {
        const int n = platform::socket_recv(s, buffer, static_cast<int>(sizeof buffer));
        if (n <= 0) {
            if (ended != nullptr) *ended = true;
            break;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

bool loopback_peer::wait_for_end(platform::socket_t s) {
    bool ended = false;
    receive(s, ~std::size_t{0}, std::chrono::seconds(5), &ended);
    return ended;
}

bool loopback_peer::resets_are_reported() {
    const platform::socket_t near_end = platform::socket_open_tcp();
    platform::socket_connect(near_end, "127.0.0.1", m_port, 5000);
    const platform::socket_t far_end = accept_one();
    platform::socket_set_linger_zero(far_end);
    platform::socket_close(far_end);
    char byte;
    const bool reset = wait_readable(near_end, clock_type::now() + std::chrono::seconds(5)) &&
                       platform::socket_recv(near_end, &byte, 1) < 0;
    platform::socket_close(near_end);
    return reset;
}
