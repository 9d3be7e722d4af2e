// Internal. A recursive mutual-exclusion lock: a critical section on Windows, a recursive
// pthread mutex elsewhere. Any thread; the same thread may lock again while it holds it.
#pragma once

namespace platform {

class recursive_lock {
public:
    recursive_lock();
    ~recursive_lock();
    recursive_lock(const recursive_lock&) = delete;
    recursive_lock& operator=(const recursive_lock&) = delete;

    void lock();
    void unlock();

private:
    // Room for the native object, so that no system header leaks into the layers above.
    alignas(16) unsigned char m_storage[64];
};

}  // namespace platform
