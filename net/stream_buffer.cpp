#include "net/stream_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace KESTRO {
namespace TOOLS {

stream_buffer::stream_buffer(std::size_t capacity)
    : m_buffer(static_cast<char*>(std::malloc(capacity))), m_read(0), m_write(0), m_capacity(0) {
    if (m_buffer != nullptr) m_capacity = capacity;
}

stream_buffer::~stream_buffer() {
    std::free(m_buffer);
    m_buffer = nullptr;
    m_read = m_write = m_capacity = 0;
}

bool stream_buffer::append(const char* data, std::size_t n) {
    locker<critical_lock> guard(m_lock);
    if (n == 0) return true;
    char* room = make_room(n);
    if (room == nullptr) return false;
    std::memcpy(room, data, n);
    m_write += n;
    return true;
}

char* stream_buffer::reserve(std::size_t n) {
    locker<critical_lock> guard(m_lock);
    return make_room(n);
}

void stream_buffer::commit(std::size_t n) {
    locker<critical_lock> guard(m_lock);
    m_write += std::min(static_cast<std::uint64_t>(n), m_capacity - m_write);
}

char* stream_buffer::make_room(std::size_t n) {
    if (n <= m_capacity - m_write) return m_buffer + m_write;
    const std::size_t unread = static_cast<std::size_t>(m_write - m_read);
    if (n <= m_capacity - unread) {
        std::memmove(m_buffer, m_buffer + m_read, unread);
    } else {
        const std::size_t size = std::max(static_cast<std::size_t>(2 * m_capacity), unread + n);
        char* block = static_cast<char*>(std::malloc(size));
        if (block == nullptr) return nullptr;
        if (unread > 0) std::memcpy(block, m_buffer + m_read, unread);
        std::free(m_buffer);
        m_buffer = block;
        m_capacity = size;
    }
    m_read = 0;
    m_write = unread;
    return m_buffer + m_write;
}

bool stream_buffer::assign(const char* data, std::size_t n) {
    locker<critical_lock> guard(m_lock);
    clear();
    return append(data, n);
}

const char* stream_buffer::data() {
    locker<critical_lock> guard(m_lock);
    return m_buffer == nullptr ? nullptr : m_buffer + m_read;
}

std::size_t stream_buffer::length() {
    locker<critical_lock> guard(m_lock);
    return static_cast<std::size_t>(m_write - m_read);
}

bool stream_buffer::consume(std::size_t n) {
    locker<critical_lock> guard(m_lock);
    if (n >= m_write - m_read) {
        m_read = m_write = 0;
    } else {
        m_read += n;
    }
    return true;
}

void stream_buffer::clear() {
    locker<critical_lock> guard(m_lock);
    m_read = m_write = 0;
}

std::uint64_t stream_buffer::read_position() {
    locker<critical_lock> guard(m_lock);
    return m_read;
}

std::uint64_t stream_buffer::write_position() {
    locker<critical_lock> guard(m_lock);
    return m_write;
}

std::uint64_t stream_buffer::capacity() {
    locker<critical_lock> guard(m_lock);
    return m_capacity;
}

}  // namespace TOOLS
}  // namespace KESTRO
