// Internal to the simulator. Bounded waiting for conditions on state other threads change.
#pragma once

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

private:
    mutable std::mutex m_lock;  // guards m_version
    mutable std::condition_variable m_changed;
    std::uint64_t m_version = 0;
};

}  // namespace sim
