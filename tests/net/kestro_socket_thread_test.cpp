#include "net/kestro_socket_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "tools/wake_signal.h"

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A task that counts its runs, notes when the last one began and answers with `answer`.
struct counting_task {
    std::atomic<int> runs{0};
    std::atomic<clock_type::rep> last_start{0};
    std::function<std::int32_t(int run)> answer = [](int) { return 0; };

    static std::int32_t run(void* self) {
        auto* task = static_cast<counting_task*>(self);
        task->last_start.store(clock_type::now().time_since_epoch().count());
        return task->answer(++task->runs);
    }
    // Whether at least `count` runs have begun within `bound`.
    bool reaches(int count, milliseconds bound = milliseconds(5000)) {
        const auto deadline = clock_type::now() + bound;
        while (runs.load() < count && clock_type::now() < deadline) std::this_thread::yield();
        return runs.load() >= count;
    }
};

TEST(net_kestro_socket_thread, starts_once_and_pauses_and_stops_itself_from_its_task) {
    kestro_socket_thread worker;
    EXPECT_FALSE(worker.pause());  // never started: nothing to pause, nothing to wait for
    EXPECT_TRUE(worker.stop());
    counting_task task;
    task.answer = [&](int run) {
        // The task may not start its own thread, but may pause and stop it.
        if (run == 1 && !worker.start()) worker.pause();
        if (run == 3) worker.stop();
        return 0;
    };
    worker.set_task(&counting_task::run, &task, true);
    worker.set_interval(1000);
    ASSERT_TRUE(worker.start() && task.reaches(1));
    EXPECT_TRUE(worker.pause());
    EXPECT_EQ(task.runs, 1);
    EXPECT_TRUE(worker.start() && task.reaches(3));
    EXPECT_TRUE(worker.stop());  // joins the thread that stopped itself after its third run
    EXPECT_EQ(task.runs, 3);
    EXPECT_TRUE(worker.start());  // a new thread after a stop, and no second one
    const std::uint32_t thread = worker.get_thread_id();
    EXPECT_TRUE(worker.start() && task.reaches(4));
    EXPECT_EQ(worker.get_thread_id(), thread);
}

// With an interval of ten seconds, every run the test sees within a second came from a rerun,
// a wake or a request, never from the interval running out.
TEST(net_kestro_socket_thread, wakes_and_requests_end_a_long_sleep_and_a_wake_in_a_run_is_kept) {
    kestro_socket_thread worker;
    counting_task task;
    std::atomic<bool> release{false};
    const auto give_up = clock_type::now() + std::chrono::seconds(5);
    task.answer = [&](int run) {
        while (run == 4 && !release.load() && clock_type::now() < give_up) {
            std::this_thread::yield();
        }
        return run < 3 ? 1 : 0;  // the first two ask to run again at once
    };
    worker.set_task(&counting_task::run, &task, true);
    worker.set_interval(10000000);
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(task.reaches(3, milliseconds(1000)));
    worker.wake();
    ASSERT_TRUE(task.reaches(4, milliseconds(1000)));  // run 4 holds until released
    worker.wake();
    release.store(true);
    EXPECT_TRUE(task.reaches(5, milliseconds(1000)));  // the wake during run 4 was kept
    EXPECT_FALSE(task.reaches(6, milliseconds(200)));  // and used up: the interval holds
    // Each request is answered after one more run.
    const auto before_pause = clock_type::now();
    EXPECT_TRUE(worker.pause());
    worker.wake();  // a paused worker is not woken
    EXPECT_FALSE(task.reaches(7, milliseconds(200)));
    EXPECT_TRUE(worker.stop());
    EXPECT_LT(clock_type::now() - before_pause, milliseconds(2000));
    EXPECT_EQ(task.runs, 7);
}

// A timer that oversleeps every timed wait by 15 ms, as a default Windows tick does; a notify
// still ends a wait at once.
void coarse_block(platform::event_count& events, std::uint32_t ticket,
                  KESTRO::TOOLS::wake_signal::clock::duration rest) {
    events.wait(ticket, rest + milliseconds(15));
}

TEST(net_kestro_socket_thread, a_coarse_timer_stretches_an_interval_by_one_tick_only) {
    KESTRO::TOOLS::wake_signal::set_block_function(&coarse_block);
    kestro_socket_thread worker;
    counting_task task;
    std::atomic<clock_type::rep> second_start{0};
    task.answer = [&](int run) {
        if (run == 2) second_start.store(task.last_start.load());
        return 0;
    };
    worker.set_task(&counting_task::run, &task, true);
    worker.set_interval(200000);
    worker.start();
    const bool third = task.reaches(3);
    worker.stop();
    KESTRO::TOOLS::wake_signal::set_block_function(nullptr);
    ASSERT_TRUE(third);
    // Counted in 10 ms steps that last 25 ms each, the 200 ms would take 500 ms.
    const auto gap = std::chrono::duration_cast<milliseconds>(
        clock_type::duration(task.last_start.load() - second_start.load()));
    EXPECT_GE(gap.count(), 200);
    EXPECT_LT(gap.count(), 200 + 15 + 100);
}

}  // namespace
