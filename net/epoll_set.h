// Internal. epoll_set: the readiness set of one socket client, four socket sets of up to 64
// sockets (read, write and exception results, and the master set of watched sockets) that
// turn one wait into a list of epoll_event entries. No lock: the client touches it from one
// thread at a time (the connecting thread before the waiting starts, then the waiting thread).
#pragma once

#include <cstdint>

#include "platform/socket.h"

// One ready socket and how it is ready.
struct epoll_event {
    static constexpr std::uint32_t KIND_NONE = 0;
    static constexpr std::uint32_t KIND_WRITABLE = 1;
    static constexpr std::uint32_t KIND_READABLE = 2;
    static constexpr std::uint32_t KIND_EXCEPTION = 3;

    platform::socket_t socket = platform::invalid_socket;
    std::uint32_t kind = KIND_NONE;
};

class epoll_set {
public:
    // All members: one thread at a time (see above).
    epoll_set() = default;
    epoll_set(const epoll_set&) = delete;
    epoll_set& operator=(const epoll_set&) = delete;

    // Watches the socket; a socket already watched, or a 65th one, is not added.
    void add(platform::socket_t socket);
    // Stops watching the socket; the ones behind it keep their order.
    void remove(platform::socket_t socket);
    // Makes the read and exception result sets copies of the master set and empties the
    // write result set, ready for a wait.
    void prepare();
    // Writes every ready socket into out (readable, then writable, then exceptional); false,
    // writing nothing, when they do not fit into room entries.
    bool collect(epoll_event* out, unsigned room) const;

    platform::socket_set* read_set() { return &m_read; }
    platform::socket_set* write_set() { return &m_write; }
    platform::socket_set* except_set() { return &m_except; }
    const platform::socket_set& master_set() const { return m_master; }

private:
    platform::socket_set m_read;
    platform::socket_set m_write;
    platform::socket_set m_except;
    platform::socket_set m_master;
};
