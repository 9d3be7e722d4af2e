#include "net/buffer_pool.h"

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;
using KESTRO::TOOLS::stream_buffer;

buffer_pool::buffer_pool(std::uint32_t capacity)
    : m_buffers(new stream_buffer*[capacity]), m_count(0), m_capacity(capacity) {}

buffer_pool::~buffer_pool() {
    for (std::uint32_t i = 0; i < m_count; ++i) delete m_buffers[i];
    delete[] m_buffers;
}

stream_buffer* buffer_pool::get() {
    {
        locker<critical_lock> guard(m_lock);
        if (m_count > 0) return m_buffers[--m_count];
    }
    // Allocated outside the lock: the other side of the pool need not wait for it.
    return new stream_buffer(buffer_size);
}

void buffer_pool::put(stream_buffer* buffer) {
    if (buffer == nullptr) return;
    {
        locker<critical_lock> guard(m_lock);
        if (m_count < m_capacity) {
            m_buffers[m_count++] = buffer;
            return;
        }
    }
    delete buffer;
}

std::uint32_t buffer_pool::size() {
    locker<critical_lock> guard(m_lock);
    return m_count;
}
