// Internal to the programs we ship: a value that library threads change and the main thread
// copies or waits on. Any thread. m_lock guards the value and is held only for one change, one
// copy or one test of a waiter's condition, never across a call into the library.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

template <class State>
class guarded_state {
public:
    // Applies `apply` to the value under the lock, then wakes the waiters.
    template <class Change>
    void change(Change apply) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            apply(m_value);
        }
        m_changed.notify_all();
    }

    State copy() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_value;
    }

    // Waits until `condition` holds, at most timeout_ms; its last answer.
    bool wait_for(const std::function<bool(const State&)>& condition, int timeout_ms) const {
        std::unique_lock<std::mutex> lock(m_lock);
        const auto holds = [&] { return condition(m_value); };
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), holds);
    }

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    State m_value;
};
