#include "platform/event_count.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "event_count storage too small");

static SRWLOCK* lock_of(void** native) {
    return reinterpret_cast<SRWLOCK*>(&native[0]);
}
static CONDITION_VARIABLE* cv_of(void** native) {
    return reinterpret_cast<CONDITION_VARIABLE*>(&native[1]);
}

event_count::event_count() {
    InitializeSRWLock(lock_of(m_native));
    InitializeConditionVariable(cv_of(m_native));
}

event_count::~event_count() = default;  // neither object holds a resource

void event_count::wait(std::uint32_t ticket, std::chrono::nanoseconds rest) {
    if (rest.count() > 0) block(ticket, &rest);
}

void event_count::wait(std::uint32_t ticket) {
    block(ticket, nullptr);
}

void event_count::block(std::uint32_t ticket, const std::chrono::nanoseconds* rest) {
    DWORD timeout = INFINITE;
    if (rest != nullptr) {
        // Whole milliseconds, rounded up: a shorter wait would return at once and spin.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*rest).count();
        timeout = ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
    }
    AcquireSRWLockExclusive(lock_of(m_native));
    if (m_count.load() == ticket)
        SleepConditionVariableSRW(cv_of(m_native), lock_of(m_native), timeout, 0);
    ReleaseSRWLockExclusive(lock_of(m_native));
}

void event_count::wake_all() {
    AcquireSRWLockExclusive(lock_of(m_native));
    m_count.fetch_add(1);
    ReleaseSRWLockExclusive(lock_of(m_native));
    WakeAllConditionVariable(cv_of(m_native));
}

}  // namespace platform
