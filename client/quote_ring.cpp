#include "client/quote_ring.h"

#include <algorithm>
#include <cstring>

quote_ring::quote_ring(std::uint32_t capacity)
    : m_capacity(capacity),
      m_quotes(new orvq_quote[capacity]),
      m_codes(new char[capacity]),
      m_times(new std::int64_t[capacity]) {}

void quote_ring::push(char exchange_code, const void* quote, std::int64_t receive_ns) {
    const std::uint64_t head = m_head.load(std::memory_order_relaxed);
    if (head - m_tail.load() >= m_capacity) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const std::size_t slot = static_cast<std::size_t>(head % m_capacity);
    std::memcpy(&m_quotes[slot], quote, sizeof(orvq_quote));
    m_codes[slot] = exchange_code;
    m_times[slot] = receive_ns;
    m_head.store(head + 1, std::memory_order_release);
}

void quote_ring::publish() {
    const std::uint64_t head = m_head.load(std::memory_order_relaxed);
    if (head == m_published) return;
    // A poller waits only when it found nothing: the wake_signal's mutex orders its look at
    // the head against this notify, so it either saw these quotes or is woken here.
    m_published = head;
    m_wake.notify();
}

int quote_ring::take_ready(orvq_quote* quotes, char* codes, std::int64_t* times, int max) {
    std::lock_guard<std::mutex> guard(m_take_lock);
    const std::uint64_t tail = m_tail.load();
    const auto n = static_cast<std::size_t>(
        std::min<std::uint64_t>(m_head.load() - tail, static_cast<std::uint64_t>(max)));
    // At most two runs: up to the end of the slots, then from their start.
    std::size_t done = 0;
    while (done < n) {
        const std::size_t slot = static_cast<std::size_t>((tail + done) % m_capacity);
        const std::size_t run = std::min(n - done, static_cast<std::size_t>(m_capacity) - slot);
        std::memcpy(quotes + done, &m_quotes[slot], run * sizeof(orvq_quote));
        if (codes != nullptr) std::memcpy(codes + done, &m_codes[slot], run);
        if (times != nullptr) std::memcpy(times + done, &m_times[slot], run * sizeof *times);
        done += run;
    }
    m_tail.store(tail + n);
    return static_cast<int>(n);
}

int quote_ring::take(orvq_quote* quotes, char* codes, std::int64_t* times, int max,
                     clock::time_point deadline) {
    for (;;) {
        const int taken = take_ready(quotes, codes, times, max);
        if (taken > 0 || m_closed.load()) return taken;
        // Another poller may take what woke this one: then wait again, to the same deadline.
        if (!m_wake.wait_until(deadline, [&] { return depth() > 0 || m_closed.load(); })) {
            return 0;
        }
    }
}

void quote_ring::close() {
    m_closed.store(true);
    m_wake.notify();
}
