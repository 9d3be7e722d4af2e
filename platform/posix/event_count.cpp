#include "platform/event_count.h"

#include <climits>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the futex word must be a plain 32-bit word");

static std::uint32_t* word(std::atomic<std::uint32_t>& count) {
    return reinterpret_cast<std::uint32_t*>(&count);
}

event_count::event_count() = default;
event_count::~event_count() = default;

void event_count::wait(std::uint32_t ticket, std::chrono::nanoseconds rest) {
    if (rest.count() > 0) block(ticket, &rest);
}

void event_count::wait(std::uint32_t ticket) {
    block(ticket, nullptr);
}

void event_count::block(std::uint32_t ticket, const std::chrono::nanoseconds* rest) {
    timespec timeout{};
    if (rest != nullptr) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(*rest);
        timeout.tv_sec = static_cast<time_t>(seconds.count());
        timeout.tv_nsec = static_cast<long>((*rest - seconds).count());
    }
    // Counted before the kernel compares the word: a waker that finds no waiter has moved
    // the count before this thread blocks, so the kernel's comparison fails.
    m_waiters.fetch_add(1);
    syscall(SYS_futex, word(m_count), FUTEX_WAIT_PRIVATE, ticket,
            rest != nullptr ? &timeout : nullptr, nullptr, 0);
    m_waiters.fetch_sub(1);
}

void event_count::wake_all() {
    m_count.fetch_add(1);
    if (m_waiters.load() != 0) {
        syscall(SYS_futex, word(m_count), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
    }
}

}  // namespace platform
