// Internal. wake_signal: where a thread waits, with a deadline on the monotonic clock, for a
// condition that other threads make true, and where those threads wake it after the change.
// Any thread. It owns one mutex and one condition variable and nothing else: the condition
// lives in the caller's atomics and is read under the mutex, so a notify() that follows the
// change is never lost, and a waiter that is not woken still ends at its deadline, however
// coarse the platform's timer (a late wake-up costs at most one tick, never one per step).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace KESTRO {
namespace TOOLS {

class wake_signal {
public:
    using clock = std::chrono::steady_clock;
    // One blocking step: waits on `cv` (with `lock` held) until notified or `rest` has passed.
    // It may return early or late; the wait measures itself against its deadline.
    using block_fn = void (*)(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
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
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!done()) {
            const clock::time_point now = clock::now();
            if (now >= deadline) return false;
            block(lock, deadline - now);
        }
        return true;
    }

    template <class Done>
    bool wait_for(clock::duration timeout, Done done) {
        return wait_until(clock::now() + timeout, done);
    }

    // Tests stand in a coarse timer here (every signal's blocking step goes through it);
    // nullptr restores the condition variable's own timed wait.
    static void set_block_function(block_fn fn);

private:
    void block(std::unique_lock<std::mutex>& lock, clock::duration rest);

    std::mutex m_mutex;
    std::condition_variable m_cv;
};

}  // namespace TOOLS
}  // namespace KESTRO
