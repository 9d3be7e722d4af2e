#include "tools/critical_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;

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
