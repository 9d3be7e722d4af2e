#include "capture/capture_queue.h"

namespace capture {

capture_queue::capture_queue(std::size_t capacity) : m_capacity(capacity) {
    m_pending.reserve(capacity);
}

bool capture_queue::push(const capture_record& record) {
    bool was_empty = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed || m_pending.size() >= m_capacity) {
            m_dropped.fetch_add(1);
            return false;
        }
        was_empty = m_pending.empty();
        m_pending.push_back(record);
    }
    // The writer sleeps only on an empty queue, so only the first record needs to wake it.
    if (was_empty) m_ready.notify_one();
    return true;
}

bool capture_queue::take_all(std::vector<capture_record>& out) {
    out.clear();
    if (out.capacity() < m_capacity) out.reserve(m_capacity);
    std::unique_lock<std::mutex> lock(m_lock);
    m_ready.wait(lock, [this] { return m_closed || m_woken || !m_pending.empty(); });
    m_woken = false;
    m_pending.swap(out);
    return !out.empty() || !m_closed;
}

void capture_queue::wake() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_woken = true;
    }
    m_ready.notify_all();
}

void capture_queue::close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closed = true;
    }
    m_ready.notify_all();
}

}  // namespace capture
