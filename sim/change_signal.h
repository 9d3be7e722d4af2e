// Internal to the simulator. Bounded waiting for conditions on state other threads change.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace sim {

// Changers call notify() after each change; waiters re-check their condition then, and every
// few milliseconds for state nobody notifies about. Any thread; the condition runs without the
// signal's lock (which guards only the change count), so it may take other locks.
class change_signal {
public:
    // Wakes every waiter to check its condition again.
    void notify();

    // True as soon as `condition` holds, false when it still does not after timeout_ms.
    bool wait_for(const std::function<bool()>& condition, int timeout_ms) const;

    // For a waiter whose state is all notified: the changes so far, and a wait that ends only
    // when one more is notified or at `deadline` (time_point::max(): never), so that it costs
    // nothing while nothing changes.
    std::uint64_t version() const;
    void wait_change(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) const;

private:
    mutable std::mutex m_lock;  // guards m_version
    mutable std::condition_variable m_changed;
    std::uint64_t m_version = 0;
};

}  // namespace sim
