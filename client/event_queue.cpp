#include "client/event_queue.h"

#include <cstring>
#include <new>

void event_queue::put(std::int32_t kind, std::int32_t exchange_code, std::int32_t value,
                      const char* text, std::int64_t time_ns) {
    const std::size_t length = text != nullptr ? ::strnlen(text, sizeof orvq_event{}.text - 1) : 0;
    try {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_entries.size() >= m_capacity) {
            m_dropped.fetch_add(1);
            return;
        }
        m_entries.push_back(entry{kind, exchange_code, value, time_ns,
                                  length > 0 ? std::string(text, length) : std::string()});
        m_count.store(m_entries.size());
    } catch (const std::bad_alloc&) {
        m_dropped.fetch_add(1);  // no room for it either
        return;
    }
    m_wake.notify();
}

bool event_queue::take(orvq_event* event, clock::time_point deadline) {
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_entries.empty()) {
                const entry& front = m_entries.front();
                event->kind = front.kind;
                event->exchange_code = front.exchange_code;
                event->value = front.value;
                event->time_ns = front.time_ns;
                event->length = static_cast<std::int32_t>(front.text.size());
                std::memcpy(event->text, front.text.c_str(), front.text.size() + 1);
                m_entries.pop_front();
                m_count.store(m_entries.size());
                return true;
            }
        }
        if (m_closed.load()) return false;
        if (!m_wake.wait_until(deadline, [&] { return m_count.load() > 0 || m_closed.load(); })) {
            return false;
        }
    }
}

void event_queue::close() {
    m_closed.store(true);
    m_wake.notify();
}
