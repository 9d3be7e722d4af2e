// Internal. wake_signal: where a thread waits, with a deadline on the monotonic clock, for a
// condition that other threads make true, and where those threads wake it after the change.
// Any thread. It owns one mutex and one event count and nothing else: the condition lives in
// the caller's atomics and is read under the mutex after taking a ticket, so a notify() that
// follows the change is never lost, and a waiter that is not woken still ends at its
// deadline, however coarse the platform's timer (a late wake-up costs at most one tick, never
// one per step). The mutex is never held while blocked, so a timed-out wait costs one system
// call, not two.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/event_count.h"

namespace KESTRO {
namespace TOOLS {

class wake_signal {
public:
    using clock = std::chrono::steady_clock;
    // One blocking step: waits on `events` while its count is still `ticket`, until notified
    // or `rest` has passed. It may return early or late; the wait measures itself against its
    // deadline.
    using block_fn = void (*)(platform::event_count& events, std::uint32_t ticket,
                              clock::duration rest);

    wake_signal() = default;
    wake_signal(const wake_signal&) = delete;
    wake_signal& operator=(const wake_signal&) = delete;

    // Any thread, after changing what a waiter's condition reads: wakes every waiter.
    void notify();

    // Any thread. Waits until done() holds or the deadline has passed, whichever comes
    // first, and returns done(). done() is called with the signal's mutex held.
    template <class Done>
    bool wait_until(clock::time_point deadline, Done done) {
        for (;;) {
            const std::uint32_t ticket = m_events.ticket();
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                if (done()) return true;
            }
            const clock::time_point now = clock::now();
            if (now >= deadline) return false;
            block(ticket, deadline - now);
        }
    }

    template <class Done>
    bool wait_for(clock::duration timeout, Done done) {
        return wait_until(clock::now() + timeout, done);
    }

    // Any thread. Waits with no time limit until done() holds (called with the mutex held).
    // No timer is armed, so a thread waiting here costs nothing until it is notified; the
    // blocking step that tests stand in for a coarse timer is not used.
    template <class Done>
    void wait(Done done) {
        for (;;) {
            const std::uint32_t ticket = m_events.ticket();
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                if (done()) return;
            }
            m_events.wait(ticket);
        }
    }

    // Tests stand in a coarse timer here (every signal's blocking step goes through it);
    // nullptr restores the event count's own timed wait.
    static void set_block_function(block_fn fn);

private:
    void block(std::uint32_t ticket, clock::duration rest);

    std::mutex m_mutex;
    platform::event_count m_events;
};

}  // namespace TOOLS
}  // namespace KESTRO
