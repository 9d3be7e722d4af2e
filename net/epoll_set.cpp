#include "net/epoll_set.h"

namespace {

void copy_set(const platform::socket_set& from, platform::socket_set& to) {
    to.count = from.count;
    for (std::uint32_t i = 0; i < from.count; ++i) to.sockets[i] = from.sockets[i];
}

void emit(const platform::socket_set& set, std::uint32_t kind, epoll_event*& out) {
    for (std::uint32_t i = 0; i < set.count; ++i) {
        out->socket = set.sockets[i];
        out->kind = kind;
        ++out;
    }
}

}  // namespace

void epoll_set::add(platform::socket_t socket) {
    if (m_master.count >= platform::socket_set_size) return;
    for (std::uint32_t i = 0; i < m_master.count; ++i) {
        if (m_master.sockets[i] == socket) return;
    }
    m_master.sockets[m_master.count++] = socket;
}

void epoll_set::remove(platform::socket_t socket) {
    for (std::uint32_t i = 0; i < m_master.count; ++i) {
        if (m_master.sockets[i] != socket) continue;
        for (std::uint32_t j = i + 1; j < m_master.count; ++j) {
            m_master.sockets[j - 1] = m_master.sockets[j];
        }
        --m_master.count;
        return;
    }
}

void epoll_set::prepare() {
    copy_set(m_master, m_read);
    copy_set(m_master, m_except);
    m_write.count = 0;
}

bool epoll_set::collect(epoll_event* out, unsigned room) const {
    const std::uint64_t total =
        std::uint64_t{m_read.count} + std::uint64_t{m_write.count} + m_except.count;
    if (total > room) return false;
    emit(m_read, epoll_event::KIND_READABLE, out);
    emit(m_write, epoll_event::KIND_WRITABLE, out);
    emit(m_except, epoll_event::KIND_EXCEPTION, out);
    return true;
}
