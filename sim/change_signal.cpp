#include "sim/change_signal.h"

#include <algorithm>
#include <chrono>

namespace sim {

namespace {
// Conditions may also depend on state that never notifies (a client's sink, say); they are
// checked again after this long even without a change.
constexpr std::chrono::milliseconds recheck_interval{10};
}  // namespace

void change_signal::notify() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_version;
    }
    m_changed.notify_all();
}

std::uint64_t change_signal::version() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_version;
}

void change_signal::wait_change(std::uint64_t seen,
                                std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock<std::mutex> guard(m_lock);
    const auto changed = [&] { return m_version != seen; };
    if (deadline == std::chrono::steady_clock::time_point::max()) {
        m_changed.wait(guard, changed);  // no timer at all
    } else {
        m_changed.wait_until(guard, deadline, changed);
    }
}

bool change_signal::wait_for(const std::function<bool()>& condition, int timeout_ms) const {
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            seen = m_version;
        }
        // The version is read before the check, so a change made during the check ends the
        // wait below at once instead of being missed.
        if (condition()) return true;
        const clock::time_point now = clock::now();
        if (now >= deadline) return false;
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait_until(guard, std::min(deadline, now + recheck_interval),
                             [&] { return m_version != seen; });
    }
}

}  // namespace sim
