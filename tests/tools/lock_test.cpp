#include "tools/critical_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;

// Counts what a guard does to it.
struct counting_lock {
    int locks = 0;
    int unlocks = 0;
    void lock() { ++locks; }
    void unlock() { ++unlocks; }
};

TEST(Locker, TakesOnceAndReleasesOnce) {
    counting_lock lock;
    {
        locker<counting_lock> guard(&lock);
        EXPECT_EQ(lock.locks, 1);
        guard.unlock();
        EXPECT_EQ(lock.unlocks, 1);
        guard.unlock();
    }
    EXPECT_EQ(lock.locks, 1);
    EXPECT_EQ(lock.unlocks, 1);

    { locker<counting_lock> guard(lock); }
    EXPECT_EQ(lock.locks, 2);
    EXPECT_EQ(lock.unlocks, 2);

    // A guard on no lock does nothing, early unlock included.
    locker<critical_lock> none(nullptr);
    none.unlock();
}

// Each pass takes the lock twice and lets go of the inner hold in the middle: the other
// thread must not get in before the outer unlock, nor may an increment be lost.
TEST(CriticalLock, NestedHoldsSerialiseTwoThreads) {
    critical_lock lock;
    long counter = 0;
    int holder = 0;
    std::atomic<long> intrusions{0};
    constexpr long per_thread = 20000;
    auto work = [&](int me) {
        for (long i = 0; i < per_thread; ++i) {
            locker<critical_lock> outer(lock);
            lock.lock();
            holder = me;
            lock.unlock();
            std::this_thread::yield();  // the other thread's chance, were the lock free now
            if (holder != me) intrusions.fetch_add(1);
            ++counter;
        }
    };
    std::thread first(work, 1);
    std::thread second(work, 2);
    first.join();
    second.join();
    EXPECT_EQ(intrusions.load(), 0);
    EXPECT_EQ(counter, 2 * per_thread);
}

}  // namespace
