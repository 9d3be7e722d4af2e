#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <string>
#include <vector>

// The dead-peer options by their Windows SDK values (ws2ipdef.h): older mingw-w64 headers lack
// them, and the call must still be made, since the system may well know them.
#ifndef TCP_KEEPIDLE
#define TCP_KEEPIDLE 3
#endif
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
#ifndef TCP_KEEPINTVL
#define TCP_KEEPINTVL 17
#endif

namespace platform {

namespace {
SOCKET native(socket_t s) {
    return static_cast<SOCKET>(s);
}

// Uses up a waker's notifications so far; its socket is non-blocking.
void drain(socket_waker& waker) {
    char drained[64];
    while (::recv(native(waker.handle), drained, sizeof drained, 0) > 0) {
    }
}

// Winsock numbers its errors 10000 above the errno values of the same meaning.
int to_errno(int wsa_error) {
    switch (wsa_error) {
        case WSAEINTR:
            return 4;
        case WSAEBADF:
            return 9;
        case WSAENOTSOCK:
            return 9;
        case WSAEFAULT:
            return 14;
        case WSAEINVAL:
            return 22;
        default:
            return wsa_error;
    }
}

// Sets one option; a refusal is added to `refused` as "NAME (error N)".
void set_option(SOCKET s, int level, int name, DWORD value, const char* label,
                std::string& refused) {
    if (setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0) {
        return;
    }
    if (!refused.empty()) refused += ", ";
    refused += std::string(label) + " (error " + std::to_string(WSAGetLastError()) + ")";
}

// fd_set of Winsock is exactly a count and an array of 64 sockets.
static_assert(FD_SETSIZE == socket_set_size, "socket set size differs from FD_SETSIZE");
void to_fd_set(const socket_set* in, fd_set* out) {
    out->fd_count = in ? in->count : 0;
    for (u_int i = 0; i < out->fd_count; ++i) out->fd_array[i] = native(in->sockets[i]);
}
void from_fd_set(const fd_set* in, socket_set* out) {
    if (out == nullptr) return;
    out->count = in->fd_count;
    for (u_int i = 0; i < in->fd_count; ++i) out->sockets[i] = in->fd_array[i];
}
}  // namespace

void sockets_startup() {
    WSADATA data;
    WSAStartup(0x0202, &data);
}

void sockets_cleanup() {
    WSACleanup();
}

socket_t socket_open_tcp() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? invalid_socket : static_cast<socket_t>(s);
}

bool socket_connect(socket_t s, const char* ip, std::uint16_t port, long timeout_ms) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(ip);
    address.sin_port = htons(port);
    const auto* to = reinterpret_cast<const sockaddr*>(&address);
    if (timeout_ms < 0) return ::connect(native(s), to, sizeof address) == 0;
    u_long non_blocking = 1;
    if (ioctlsocket(native(s), FIONBIO, &non_blocking) != 0) return false;
    bool connected = ::connect(native(s), to, sizeof address) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        // One select with the whole bound: it ends at its deadline however coarse the timer.
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(native(s), &writable);
        FD_SET(native(s), &failed);
        timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        int error = 0;
        int size = sizeof error;
        connected = select(0, nullptr, &writable, &failed, &timeout) == 1 &&
                    FD_ISSET(native(s), &writable) &&
                    getsockopt(native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                               &size) == 0 &&
                    error == 0;
    }
    u_long blocking = 0;
    return ioctlsocket(native(s), FIONBIO, &blocking) == 0 && connected;
}

bool socket_set_nodelay(socket_t s) {
    BOOL on = TRUE;
    return setsockopt(native(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

bool socket_set_linger_zero(socket_t s) {
    linger option{1, 0};
    return setsockopt(native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
                      sizeof option) == 0;
}

std::string socket_set_dead_peer_bound(socket_t s, const dead_peer_bound& bound) {
    std::string refused;
    // Whole seconds; TCP_MAXRTMS would take milliseconds, but only on newer systems.
    set_option(native(s), IPPROTO_TCP, TCP_MAXRT, static_cast<DWORD>((bound.bound_ms + 999) / 1000),
               "TCP_MAXRT", refused);
    set_option(native(s), SOL_SOCKET, SO_KEEPALIVE, TRUE, "SO_KEEPALIVE", refused);
    std::string timing;
    set_option(native(s), IPPROTO_TCP, TCP_KEEPIDLE, static_cast<DWORD>(bound.idle_s),
               "TCP_KEEPIDLE", timing);
    set_option(native(s), IPPROTO_TCP, TCP_KEEPINTVL, static_cast<DWORD>(bound.interval_s),
               "TCP_KEEPINTVL", timing);
    set_option(native(s), IPPROTO_TCP, TCP_KEEPCNT, static_cast<DWORD>(bound.probes), "TCP_KEEPCNT",
               timing);
    if (timing.empty()) return refused;
    // Systems before Windows 10 1709 take the timing only this way, with their own count of
    // probes (10).
    tcp_keepalive values{1, static_cast<ULONG>(bound.idle_s * 1000),
                         static_cast<ULONG>(bound.interval_s * 1000)};
    DWORD returned = 0;
    if (WSAIoctl(native(s), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                 nullptr, nullptr) != 0) {
        const int error = WSAGetLastError();
        if (!refused.empty()) refused += ", ";
        refused += timing + ", SIO_KEEPALIVE_VALS (error " + std::to_string(error) + ")";
    }
    return refused;
}

int socket_send(socket_t s, const char* data, int length) {
    return ::send(native(s), data, length, 0);
}

int socket_recv(socket_t s, char* buffer, int length) {
    return ::recv(native(s), buffer, length, 0);
}

// The socket stays blocking for its senders, so the bytes waiting are asked for first.
int socket_recv_now(socket_t s, char* buffer, int length) {
    u_long waiting = 0;
    if (ioctlsocket(native(s), FIONREAD, &waiting) != 0) return -1;
    if (waiting == 0) return socket_nothing_yet;
    return ::recv(native(s), buffer, length, 0);
}

void socket_close(socket_t s) {
    closesocket(native(s));
}

// No SO_REUSEADDR here: Windows lets a closed listener's port be bound again at once by
// default, lingering connections and all, and the option would instead let a second listener
// share a port in use (two simulators on one port, each taking some of the clients).
socket_t socket_listen(const char* ip, std::uint16_t port, std::uint16_t* bound_port, int backlog) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return invalid_socket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(ip);
    address.sin_port = htons(port);
    int size = sizeof address;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, backlog < 0 ? SOMAXCONN : backlog) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        closesocket(s);
        return invalid_socket;
    }
    if (bound_port != nullptr) *bound_port = ntohs(address.sin_port);
    return static_cast<socket_t>(s);
}

bool socket_shutdown(socket_t s, bool both) {
    const bool done = ::shutdown(native(s), both ? SD_BOTH : SD_RECEIVE) == 0;
    // A shutdown alone does not end a send that waits for room; cancelling the socket's
    // pending calls does, without giving up the handle as closesocket would.
    if (both) CancelIoEx(reinterpret_cast<HANDLE>(native(s)), nullptr);
    return done;
}

socket_t socket_accept(socket_t listener) {
    SOCKET s = ::accept(native(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? invalid_socket : static_cast<socket_t>(s);
}

int socket_poll(poll_entry* entries, std::size_t count, long timeout_ms, socket_waker* waker) {
    std::vector<WSAPOLLFD> fds(count + (waker != nullptr ? 1 : 0));
    for (std::size_t i = 0; i < count; ++i)
        fds[i] = WSAPOLLFD{native(entries[i].socket), POLLRDNORM, 0};
    if (waker != nullptr) fds[count] = WSAPOLLFD{native(waker->handle), POLLRDNORM, 0};
    const int rc = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()),
                           timeout_ms < 0 ? -1 : static_cast<INT>(timeout_ms));
    if (rc == SOCKET_ERROR) return -1;
    if (waker != nullptr && (fds[count].revents & POLLRDNORM)) drain(*waker);
    int ready = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // A socket closed meanwhile (POLLNVAL) is handed on too: its owner finds it closed.
        entries[i].readable = (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
        ready += entries[i].readable ? 1 : 0;
    }
    return ready;
}

int socket_last_error() {
    return to_errno(WSAGetLastError());
}

// A datagram socket bound to 127.0.0.1 and connected to itself: what it sends, it receives,
// and select sees it readable. Non-blocking, so that neither a full queue nor draining waits.
bool waker_open(socket_waker& waker) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    u_long non_blocking = 1;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
        closesocket(s);
        return false;
    }
    waker.handle = static_cast<socket_t>(s);
    return true;
}

void waker_close(socket_waker& waker) {
    if (waker.handle != invalid_socket) closesocket(native(waker.handle));
    waker.handle = invalid_socket;
}

void waker_notify(socket_waker& waker) {
    const char one = 1;
    ::send(native(waker.handle), &one, 1, 0);
}

int socket_wait(socket_set* read, socket_set* except, long timeout_us, socket_waker* waker) {
    fd_set read_set, except_set;
    to_fd_set(read, &read_set);
    to_fd_set(except, &except_set);
    // The waker takes a place of its own: the set has room for it beside the client's socket.
    if (waker != nullptr && read_set.fd_count < FD_SETSIZE) {
        read_set.fd_array[read_set.fd_count++] = native(waker->handle);
    }
    timeval timeout{timeout_us / 1000000, timeout_us % 1000000};
    int rc = select(0, &read_set, nullptr, &except_set, timeout_us < 0 ? nullptr : &timeout);
    if (rc == SOCKET_ERROR) return -1;
    if (waker != nullptr && FD_ISSET(native(waker->handle), &read_set)) {
        FD_CLR(native(waker->handle), &read_set);
        --rc;
        drain(*waker);
    }
    from_fd_set(&read_set, read);
    from_fd_set(&except_set, except);
    return rc;
}

}  // namespace platform
