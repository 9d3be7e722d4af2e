// Internal. quote_ring: the pull mode's bounded queue of quotes, allocated once when the C
// interface's client is made. One writer, the receive thread, copies each quote into the next
// free slot without a lock and without allocating; any number of pollers take runs of the oldest
// quotes into the application's arrays, one at a time under m_take_lock. A quote that finds the
// ring full is dropped and counted (the newest goes, so what is queued stays a gapless run of
// what the server sent). Pollers block on m_wake until a quote comes, their deadline passes or
// the ring is closed; the writer wakes them once per receive (publish), after all of its
// quotes are in, so that a poller takes them in one batch rather than one wake-up each.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "orv_quote_c.h"
#include "tools/wake_signal.h"

class quote_ring {
public:
    using clock = KESTRO::TOOLS::wake_signal::clock;

    // Allocates `capacity` slots; throws std::bad_alloc when it cannot.
    explicit quote_ring(std::uint32_t capacity);
    quote_ring(const quote_ring&) = delete;
    quote_ring& operator=(const quote_ring&) = delete;

    // Receive thread: queues one quote with its exchange code and receive time, or drops it.
    void push(char exchange_code, const void* quote, std::int64_t receive_ns);

    // Receive thread, after the pushes of one receive: wakes the pollers if any of them waits
    // for what was queued since the last publish.
    void publish();

    // Any thread: moves up to `max` of the oldest quotes out, waiting until `deadline` for the
    // first. Returns how many it took; 0 at the deadline or once the ring is closed.
    int take(orvq_quote* quotes, char* codes, std::int64_t* times, int max,
             clock::time_point deadline);

    // Wakes every poller for good; later takes return what is queued without waiting.
    void close();

    // The tail first: it never passes a head read after it.
    std::uint64_t depth() const {
        const std::uint64_t tail = m_tail.load();
        return m_head.load() - tail;
    }
    std::uint64_t dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    int take_ready(orvq_quote* quotes, char* codes, std::int64_t* times, int max);

    const std::uint32_t m_capacity;
    std::unique_ptr<orvq_quote[]> m_quotes;
    std::unique_ptr<char[]> m_codes;
    std::unique_ptr<std::int64_t[]> m_times;
    // Positions count every quote ever queued (head, the writer's) and taken (tail, under
    // m_take_lock); a slot is its position modulo the capacity.
    std::atomic<std::uint64_t> m_head{0};
    std::atomic<std::uint64_t> m_tail{0};
    std::atomic<std::uint64_t> m_dropped{0};
    std::uint64_t m_published = 0;  // the head at the last publish; the writer's own
    std::atomic<bool> m_closed{false};
    std::mutex m_take_lock;
    KESTRO::TOOLS::wake_signal m_wake;
};
