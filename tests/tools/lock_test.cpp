#include "tools/critical_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;

// Counts in class-wide counters and never touches its object, so that a guard calling through
// a null pointer shows in the counts (and to the sanitizer) instead of passing unseen.
struct counting_lock {
    inline static int locks = 0;
    inline static int unlocks = 0;
    void lock() { ++locks; }
    void unlock() { ++unlocks; }
};

TEST(locker, takes_once_releases_once_and_leaves_a_null_lock_alone) {
    counting_lock lock;
    {
        locker<counting_lock> guard(&lock);
        guard.unlock();
        guard.unlock();
        EXPECT_EQ(counting_lock::unlocks, 1);
    }
    { locker<counting_lock> guard(lock); }
    {
        locker<counting_lock> none(static_cast<counting_lock*>(nullptr));
        none.unlock();
    }
    EXPECT_EQ(counting_lock::locks, 2);
    EXPECT_EQ(counting_lock::unlocks, 2);
}

// Each pass takes the lock twice and lets go of the inner hold in the middle: the other
// thread must not get in before the outer unlock.
TEST(critical_lock, nested_holds_serialise_two_threads) {
    critical_lock lock;
    int holder = 0;
    std::atomic<long> intrusions{0};
    auto work = [&](int me) {
        for (long i = 0; i < 20000; ++i) {
            locker<critical_lock> outer(lock);
            lock.lock();
            holder = me;
            lock.unlock();
            std::this_thread::yield();  // the other thread's chance, were the lock free now
            if (holder != me) intrusions.fetch_add(1);
        }
    };
    std::thread first(work, 1);
    std::thread second(work, 2);
    first.join();
    second.join();
    EXPECT_EQ(intrusions.load(), 0);
}

}  // namespace
