#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace platform {

namespace {
SOCKET native(socket_t s) {
    return static_cast<SOCKET>(s);
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

// No SO_REUSEADDR here: on Windows it lets another socket take over a port in use, and a
// closed listener's port can be bound again without it.
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
        char drained[64];
        while (::recv(native(waker->handle), drained, sizeof drained, 0) > 0) {
        }
    }
    from_fd_set(&read_set, read);
    from_fd_set(&except_set, except);
    return rc;
}

}  // namespace platform
