// Internal. critical_lock: the recursive mutual-exclusion lock of the client core and the
// transport. locker<LOCK>: the scoped guard that takes a lock for one block. Any thread.
#pragma once

#include "platform/lock.h"

namespace KESTRO {
namespace TOOLS {

class critical_lock {
public:
    critical_lock() = default;
    critical_lock(const critical_lock&) = delete;
    critical_lock& operator=(const critical_lock&) = delete;

    void lock() { m_lock.lock(); }
    void unlock() { m_lock.unlock(); }

private:
    platform::recursive_lock m_lock;
};

template <class LOCK>
class locker {
public:
    explicit locker(LOCK* lock) : m_lock(lock) {
        if (m_lock != nullptr) m_lock->lock();
    }
    explicit locker(LOCK& lock) : locker(&lock) {}
    ~locker() { unlock(); }
    locker(const locker&) = delete;
    locker& operator=(const locker&) = delete;

    // Releases early; a second call and the destructor then do nothing.
    void unlock() {
        if (m_lock != nullptr) {
            m_lock->unlock();
            m_lock = nullptr;
        }
    }

private:
    LOCK* m_lock;
};

}  // namespace TOOLS
}  // namespace KESTRO
