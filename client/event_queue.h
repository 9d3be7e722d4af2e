// Internal. event_queue: the pull mode's bounded queue of events (connection, login, replies,
// symbol list entries, log lines) for the application to take one at a time. Any thread puts,
// any thread takes; m_lock guards the list, held for one operation only. When the queue holds
// `capacity` events, a new one is dropped and counted. Takers block on m_wake until an event
// comes, their deadline passes or the queue is closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "orv_quote_c.h"
#include "tools/wake_signal.h"

class event_queue {
public:
    using clock = KESTRO::TOOLS::wake_signal::clock;

    explicit event_queue(std::size_t capacity) : m_capacity(capacity) {}
    event_queue(const event_queue&) = delete;
    event_queue& operator=(const event_queue&) = delete;

    // Any thread: queues one event (text cut to what orvq_event holds), or counts it dropped.
    void put(std::int32_t kind, std::int32_t exchange_code, std::int32_t value, const char* text,
             std::int64_t time_ns);

    // Any thread: fills *event with the oldest event, waiting until `deadline` for one; false
    // at the deadline or once the queue is closed and empty.
    bool take(orvq_event* event, clock::time_point deadline);

    // Wakes every taker for good; later takes do not wait.
    void close();

    std::uint64_t dropped() const { return m_dropped.load(); }

private:
    struct entry {
        std::int32_t kind;
        std::int32_t exchange_code;
        std::int32_t value;
        std::int64_t time_ns;
        std::string text;
    };

    const std::size_t m_capacity;
    std::mutex m_lock;
    std::deque<entry> m_entries;
    std::atomic<std::size_t> m_count{0};  // m_entries' size, for the takers' wait
    std::atomic<std::uint64_t> m_dropped{0};
    std::atomic<bool> m_closed{false};
    KESTRO::TOOLS::wake_signal m_wake;
};
