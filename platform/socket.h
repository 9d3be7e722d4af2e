// Internal. IPv4 TCP sockets: Winsock 2 on Windows, BSD sockets elsewhere. Every function
// is safe from any thread; a socket itself is used by one sending and one receiving thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using socket_t = std::uint64_t;
constexpr socket_t invalid_socket = ~socket_t{0};

// Process-wide start and stop of the sockets library (WSAStartup 2.2 / WSACleanup).
// Elsewhere they do nothing.
void sockets_startup();
void sockets_cleanup();

// socket(AF_INET, SOCK_STREAM, 0); invalid_socket on failure.
socket_t socket_open_tcp();
// Connect to a dotted IPv4 address text and a port. With a bound (timeout_ms >= 0) the connect
// gives up once that time has passed on the monotonic clock, as a refused one does; either
// way the socket is left in blocking mode. Without one it waits as long as the system does
// (minutes for an address that never answers).
bool socket_connect(socket_t s, const char* ip, std::uint16_t port, long timeout_ms = -1);
bool socket_set_nodelay(socket_t s);
// SO_LINGER on with 0 seconds: a close resets the connection at once.
bool socket_set_linger_zero(socket_t s);

// What makes a silently dead connection fail instead of waiting for the system's own
// time-outs (a quarter of an hour for unacknowledged data on Linux): sent data that stays
// unacknowledged for bound_ms ends the connection (TCP_USER_TIMEOUT, TCP_MAXRT), and so do
// keep-alive probes, every interval_s after idle_s without traffic, of which `probes` in a row
// go unanswered. Keep-alive alone is not enough: no probe goes out while sent data is
// unacknowledged. A connection that ends so fails its next receive.
struct dead_peer_bound {
    long bound_ms;
    long idle_s;
    long interval_s;
    int probes;
};
// Applies every option; what the system refused, as "NAME (error N)" items joined by ", ",
// or "" when it took them all. A refused option leaves the connection as it was.
std::string socket_set_dead_peer_bound(socket_t s, const dead_peer_bound& bound);

// One send/recv call; the result of the system call (negative on failure). A send to a
// connection the peer has reset fails instead of raising a signal.
int socket_send(socket_t s, const char* data, int length);
int socket_recv(socket_t s, char* buffer, int length);
// One receive of what has already arrived, never waiting: as socket_recv, or
// socket_nothing_yet when there is nothing to take now (an ended connection may also say
// so; a wait then reports it).
constexpr int socket_nothing_yet = -2;
int socket_recv_now(socket_t s, char* buffer, int length);
void socket_close(socket_t s);

// A listening socket on a dotted IPv4 address ("0.0.0.0": every interface; port 0 picks an
// ephemeral one) with its port stored in *bound_port when that is not null; invalid_socket on
// failure. The address may be reused at once, so that a port whose listener was closed can be
// listened on again while its connections linger; a port another listener holds stays
// refused. A backlog of 0 keeps the queue of unaccepted connections as
// short as the system allows; negative means the system's largest.
socket_t socket_listen(const char* ip, std::uint16_t port, std::uint16_t* bound_port,
                       int backlog = -1);
inline socket_t socket_listen_loopback(std::uint16_t port, std::uint16_t* bound_port,
                                       int backlog = -1) {
    return socket_listen("127.0.0.1", port, bound_port, backlog);
}
// Blocking accept of one pending connection; invalid_socket on failure.
socket_t socket_accept(socket_t listener);
// Stops receiving, and sending too when `both` (the peer then sees an orderly end), without
// closing. It wakes a thread waiting on the socket, whose wait would otherwise keep a closed
// socket alive until it ends, and makes a listener refuse connections at once.
bool socket_shutdown(socket_t s, bool both);

// The error number of the last failed socket call of this thread, as an errno value
// (interrupted 4, bad descriptor 9, bad address 14, invalid argument 22, ...).
int socket_last_error();

// One socket of socket_poll, and on return whether it is readable: data, a pending connection
// on a listener, or an ended or failed connection (a receive then tells which).
struct poll_entry {
    socket_t socket = invalid_socket;
    bool readable = false;
};
struct socket_waker;
// Waits until an entry is readable, `waker` (when not null) is notified, or timeout_ms has
// passed (never, when negative). Any number of sockets, unlike socket_wait. The number of
// readable entries (the waker is not one, and its notification is used up), 0 on time-out or
// when only the waker woke the wait, -1 on failure.
int socket_poll(poll_entry* entries, std::size_t count, long timeout_ms,
                socket_waker* waker = nullptr);

// A set of up to 64 sockets, the size of the Windows socket set.
constexpr unsigned socket_set_size = 64;
struct socket_set {
    std::uint32_t count = 0;
    socket_t sockets[socket_set_size];
};

// What another thread uses to end a socket_wait early: an eventfd on Linux, a loopback
// datagram socket that sends to itself on Windows (select watches only sockets there).
// Opened and closed by its owner; notify is safe from any thread while it is open.
struct socket_waker {
    socket_t handle = invalid_socket;
};
bool waker_open(socket_waker& waker);
void waker_close(socket_waker& waker);
// Makes the next (or the current) socket_wait that watches the waker return.
void waker_notify(socket_waker& waker);

// Waits until a socket of `read` is readable, one of `except` has an exceptional condition,
// `waker` (when not null) is notified, or timeout_us microseconds have passed (never, when
// negative). On return each set holds only its ready sockets, and a notification is used up.
// Returns the number of ready entries (the waker is not one: 0 when only it woke the wait),
// 0 on time-out, -1 on failure (socket_last_error).
int socket_wait(socket_set* read, socket_set* except, long timeout_us,
                socket_waker* waker = nullptr);

}  // namespace platform
