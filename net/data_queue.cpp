#include "net/data_queue.h"

#include "tools/bad_str_key.h"

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;
using KESTRO::TOOLS::stream_buffer;

namespace {
constexpr std::size_t initial_ring_size = 64;
}

data_queue::data_queue() : m_ring(initial_ring_size, nullptr), m_head(0), m_count(0) {}

bool data_queue::empty() {
    locker<critical_lock> guard(m_lock);
    return m_count == 0;
}

std::size_t data_queue::size() {
    locker<critical_lock> guard(m_lock);
    return m_count;
}

void data_queue::push_back(stream_buffer* buffer) {
    locker<critical_lock> guard(m_lock);
    if (m_count == m_ring.size()) grow();
    m_ring[(m_head + m_count) % m_ring.size()] = buffer;
    ++m_count;
}

stream_buffer* data_queue::front() {
    locker<critical_lock> guard(m_lock);
    if (m_count == 0) throw KESTRO::TOOLS::bad_str_key("data queue empty ");
    return m_ring[m_head];
}

void data_queue::pop_front() {
    locker<critical_lock> guard(m_lock);
    if (m_count == 0) return;
    m_ring[m_head] = nullptr;
    m_head = (m_head + 1) % m_ring.size();
    --m_count;
}

stream_buffer* data_queue::take_front(std::size_t* left) {
    locker<critical_lock> guard(m_lock);
    stream_buffer* first = nullptr;
    if (m_count > 0) {
        first = m_ring[m_head];
        m_ring[m_head] = nullptr;
        m_head = (m_head + 1) % m_ring.size();
        --m_count;
    }
    if (left != nullptr) *left = m_count;
    return first;
}

void data_queue::grow() {
    std::vector<stream_buffer*> bigger(2 * m_ring.size(), nullptr);
    for (std::size_t i = 0; i < m_count; ++i) bigger[i] = m_ring[(m_head + i) % m_ring.size()];
    m_ring.swap(bigger);
    m_head = 0;
}
