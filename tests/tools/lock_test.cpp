#include "tools/critical_lock.h"
#include "tools/str_utils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

// Polls cond until it holds or about five seconds pass.
template <class COND>
bool wait_for(COND cond) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

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

TEST(CriticalLock, OwnerMayLockAgainAndKeepsItUntilLastUnlock) {
    critical_lock lock;
    std::atomic<bool> other_entered{false};
    lock.lock();
    lock.lock();
    std::thread other([&] {
        locker<critical_lock> guard(lock);
        other_entered = true;
    });
    lock.unlock();
    // A window for the other thread to get in wrongly; it cannot make a correct lock fail.
    KESTRO::TOOLS::sleep_ms(50);
    EXPECT_FALSE(other_entered.load());
    lock.unlock();
    EXPECT_TRUE(wait_for([&] { return other_entered.load(); }));
    other.join();
}

TEST(CriticalLock, SerialisesTwoThreads) {
    critical_lock lock;
    long counter = 0;
    constexpr long per_thread = 100000;
    auto work = [&] {
        for (long i = 0; i < per_thread; ++i) {
            locker<critical_lock> guard(lock);
            ++counter;
        }
    };
    std::thread first(work);
    std::thread second(work);
    first.join();
    second.join();
    EXPECT_EQ(counter, 2 * per_thread);
}

}  // namespace
