// Internal. event_count: the blocking step under every timed wait of the library. A waiter
// takes a ticket, looks at its condition, and blocks with that ticket; a waker changes the
// condition and then calls wake_all(), which moves the count on, so a wake that comes between
// the look and the block is never lost (the block returns at once). Any thread.
//
// On Linux one futex on the count: a timed-out wait is one system call, and a wake with no
// waiter none, which is what keeps a thread that wakes every millisecond cheap (a condition
// variable's timed wait costs a second call, to release its re-taken mutex). On Windows a
// slim reader/writer lock and a condition variable, whose waits last whole milliseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace platform {

class event_count {
public:
    event_count();
    ~event_count();
    event_count(const event_count&) = delete;
    event_count& operator=(const event_count&) = delete;

    // Read before looking at the condition.
    std::uint32_t ticket() const { return m_count.load(); }

    // Blocks while the count still equals `ticket`, for at most `rest`. It may return early
    // (a signal, a spurious wake), so the caller looks at its condition and its clock again.
    void wait(std::uint32_t ticket, std::chrono::nanoseconds rest);
    // The same with no time limit: no timer is armed, so a thread blocked here costs nothing
    // until it is woken.
    void wait(std::uint32_t ticket);

    // Moves the count on and wakes every thread blocked in wait().
    void wake_all();

private:
    // Both waits: at most *rest, or with no limit when rest is null.
    void block(std::uint32_t ticket, const std::chrono::nanoseconds* rest);

    std::atomic<std::uint32_t> m_count{0};
    std::atomic<std::uint32_t> m_waiters{0};
    // Room for the Windows lock and condition variable, so that no system header leaks upward.
    void* m_native[2] = {nullptr, nullptr};
};

}  // namespace platform
