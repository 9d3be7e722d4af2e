#include "platform/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

namespace {
int fd(socket_t s) {
    return static_cast<int>(s);
}

// Waits until a non-blocking connect has ended or the deadline has passed; true when it
// succeeded. A signal does not stretch the wait: what is left is measured again.
bool wait_connected(int s, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{s, POLLOUT, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return false;
        int error = 0;
        socklen_t size = sizeof error;
        return getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
}

// Sets one option; a refusal is added to `refused` as "NAME (error N)".
void set_option(int s, int level, int name, int value, const char* label, std::string& refused) {
    if (setsockopt(s, level, name, &value, sizeof value) == 0) return;
    if (!refused.empty()) refused += ", ";
    refused += std::string(label) + " (error " + std::to_string(errno) + ")";
}

// Reads the waker's count back to 0 when poll found it readable.
void drain(socket_waker* waker) {
    std::uint64_t count;
    while (::read(fd(waker->handle), &count, sizeof count) < 0 && errno == EINTR) {
    }
}
}  // namespace

void sockets_startup() {}
void sockets_cleanup() {}

socket_t socket_open_tcp() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    return s < 0 ? invalid_socket : static_cast<socket_t>(s);
}

bool socket_connect(socket_t s, const char* ip, std::uint16_t port, long timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(ip);
    address.sin_port = htons(port);
    const auto* to = reinterpret_cast<const sockaddr*>(&address);
    if (timeout_ms < 0) {
        int rc;
        do {
            rc = ::connect(fd(s), to, sizeof address);
        } while (rc != 0 && errno == EINTR);
        return rc == 0;
    }
    const int flags = fcntl(fd(s), F_GETFL);
    if (flags < 0 || fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) != 0) return false;
    bool connected = ::connect(fd(s), to, sizeof address) == 0;
    if (!connected && errno == EINPROGRESS) connected = wait_connected(fd(s), deadline);
    return fcntl(fd(s), F_SETFL, flags) == 0 && connected;
}

bool socket_set_nodelay(socket_t s) {
    int on = 1;
    return setsockopt(fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool socket_set_linger_zero(socket_t s) {
    linger option{1, 0};
    return setsockopt(fd(s), SOL_SOCKET, SO_LINGER, &option, sizeof option) == 0;
}

std::string socket_set_dead_peer_bound(socket_t s, const dead_peer_bound& bound) {
    std::string refused;
    set_option(fd(s), IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(bound.bound_ms),
               "TCP_USER_TIMEOUT", refused);
    set_option(fd(s), SOL_SOCKET, SO_KEEPALIVE, 1, "SO_KEEPALIVE", refused);
    set_option(fd(s), IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(bound.idle_s), "TCP_KEEPIDLE",
               refused);
    set_option(fd(s), IPPROTO_TCP, TCP_KEEPINTVL, static_cast<int>(bound.interval_s),
               "TCP_KEEPINTVL", refused);
    set_option(fd(s), IPPROTO_TCP, TCP_KEEPCNT, bound.probes, "TCP_KEEPCNT", refused);
    return refused;
}

int socket_send(socket_t s, const char* data, int length) {
    return static_cast<int>(::send(fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL));
}

int socket_recv(socket_t s, char* buffer, int length) {
    return static_cast<int>(::recv(fd(s), buffer, static_cast<size_t>(length), 0));
}

int socket_recv_now(socket_t s, char* buffer, int length) {
    const auto n = ::recv(fd(s), buffer, static_cast<size_t>(length), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return socket_nothing_yet;
    return static_cast<int>(n);
}

void socket_close(socket_t s) {
    ::close(fd(s));
}

socket_t socket_listen(const char* ip, std::uint16_t port, std::uint16_t* bound_port, int backlog) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return invalid_socket;
    int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(ip);
    address.sin_port = htons(port);
    socklen_t size = sizeof address;
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, backlog < 0 ? SOMAXCONN : backlog) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(s);
        return invalid_socket;
    }
    if (bound_port != nullptr) *bound_port = ntohs(address.sin_port);
    return static_cast<socket_t>(s);
}

bool socket_shutdown(socket_t s, bool both) {
    return ::shutdown(fd(s), both ? SHUT_RDWR : SHUT_RD) == 0;
}

socket_t socket_accept(socket_t listener) {
    int s;
    do {
        s = ::accept(fd(listener), nullptr, nullptr);
    } while (s < 0 && errno == EINTR);
    return s < 0 ? invalid_socket : static_cast<socket_t>(s);
}

int socket_poll(poll_entry* entries, std::size_t count, long timeout_ms, socket_waker* waker) {
    std::vector<pollfd> fds(count + (waker != nullptr ? 1 : 0));
    for (std::size_t i = 0; i < count; ++i) fds[i] = pollfd{fd(entries[i].socket), POLLIN, 0};
    if (waker != nullptr) fds[count] = pollfd{fd(waker->handle), POLLIN, 0};
    const int rc =
        ::poll(fds.data(), fds.size(), timeout_ms < 0 ? -1 : static_cast<int>(timeout_ms));
    if (rc < 0) return -1;
    if (waker != nullptr && (fds[count].revents & POLLIN)) drain(waker);
    int ready = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // A socket closed meanwhile (POLLNVAL) is handed on too: its owner finds it closed.
        entries[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
        ready += entries[i].readable ? 1 : 0;
    }
    return ready;
}

int socket_last_error() {
    return errno;
}

bool waker_open(socket_waker& waker) {
    const int e = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    waker.handle = e < 0 ? invalid_socket : static_cast<socket_t>(e);
    return e >= 0;
}

void waker_close(socket_waker& waker) {
    if (waker.handle != invalid_socket) ::close(fd(waker.handle));
    waker.handle = invalid_socket;
}

void waker_notify(socket_waker& waker) {
    const std::uint64_t one = 1;
    while (::write(fd(waker.handle), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

int socket_wait(socket_set* read, socket_set* except, long timeout_us, socket_waker* waker) {
    // poll instead of select: descriptors above FD_SETSIZE are legal here.
    pollfd fds[2 * socket_set_size + 1];
    nfds_t n = 0;
    const unsigned nread = read ? read->count : 0;
    const unsigned nexcept = except ? except->count : 0;
    for (unsigned i = 0; i < nread; ++i) fds[n++] = pollfd{fd(read->sockets[i]), POLLIN, 0};
    for (unsigned i = 0; i < nexcept; ++i) fds[n++] = pollfd{fd(except->sockets[i]), POLLPRI, 0};
    if (waker != nullptr) fds[n++] = pollfd{fd(waker->handle), POLLIN, 0};
    timespec timeout{timeout_us / 1000000, (timeout_us % 1000000) * 1000};
    // Without a time-out the wait has no timer at all, so an idle wait costs nothing.
    const int rc = ppoll(fds, n, timeout_us < 0 ? nullptr : &timeout, nullptr);
    if (rc < 0) return -1;
    if (waker != nullptr && (fds[n - 1].revents & POLLIN)) drain(waker);
    for (nfds_t i = 0; i < n; ++i) {
        if (fds[i].revents & POLLNVAL) {  // select fails on a descriptor that is not open
            errno = EBADF;
            return -1;
        }
    }
    // A closed or failed connection reads as readable, as select reports it: the
    // following recv returns 0 or fails. An invalid descriptor is an exceptional condition.
    int ready = 0;
    unsigned kept = 0;
    for (unsigned i = 0; i < nread; ++i) {
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
            read->sockets[kept++] = read->sockets[i];
        }
    }
    if (read) read->count = kept;
    ready += static_cast<int>(kept);
    kept = 0;
    for (unsigned i = 0; i < nexcept; ++i) {
        if (fds[nread + i].revents & POLLPRI) {
            except->sockets[kept++] = except->sockets[i];
        }
    }
    if (except) except->count = kept;
    ready += static_cast<int>(kept);
    return ready;
}

}  // namespace platform
