#include "net/kestro_socket_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "platform/thread.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr auto generous = std::chrono::seconds(2);

// A task that counts its runs, notes the threads they ran on and answers with `answer`.
struct counting_task {
    kestro_socket_thread* worker = nullptr;
    std::atomic<int> runs{0};
    std::function<std::int32_t(int run)> answer = [](int) { return 0; };
    std::mutex mutex;
    std::set<std::uint32_t> threads;

    static std::int32_t run(void* self) {
        auto* task = static_cast<counting_task*>(self);
        {
            std::lock_guard<std::mutex> guard(task->mutex);
            task->threads.insert(platform::current_thread_id());
        }
        return task->answer(++task->runs);
    }
    std::size_t thread_count() {
        std::lock_guard<std::mutex> guard(mutex);
        return threads.size();
    }
};

template <class COND>
bool wait_until(COND cond) {
    const auto deadline = clock_type::now() + std::chrono::seconds(5);
    while (!cond()) {
        if (clock_type::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

template <class ACTION>
clock_type::duration time_of(ACTION action) {
    const auto start = clock_type::now();
    action();
    return clock_type::now() - start;
}

TEST(net_kestro_socket_thread, two_starts_make_one_thread_and_a_restart_runs_again) {
    kestro_socket_thread worker;
    // Never started: nothing to pause, and a stop that finds no thread returns at once.
    EXPECT_FALSE(worker.pause());
    EXPECT_TRUE(worker.stop());
    EXPECT_EQ(worker.get_state(), kestro_socket_thread::STATE_IDLE);
    counting_task task;
    worker.set_task(&counting_task::run, &task, true);
    worker.set_interval(1000);
    EXPECT_TRUE(worker.start());
    EXPECT_TRUE(worker.start());
    ASSERT_TRUE(wait_until([&] { return task.runs >= 3; }));
    EXPECT_EQ(task.thread_count(), 1u);
    EXPECT_TRUE(worker.stop());
    EXPECT_EQ(worker.get_state(), kestro_socket_thread::STATE_STOPPED);
    const int runs_before_restart = task.runs;

    EXPECT_TRUE(worker.start());
    EXPECT_EQ(worker.get_state(), kestro_socket_thread::STATE_RUNNING);
    EXPECT_TRUE(wait_until([&] { return task.runs > runs_before_restart; }));
    EXPECT_TRUE(worker.stop());
}

TEST(net_kestro_socket_thread, a_task_asking_to_rerun_is_not_paused_and_long_waits_end_early) {
    kestro_socket_thread worker;
    counting_task task;
    task.answer = [](int run) { return run < 5 ? 1 : 0; };
    worker.set_task(&counting_task::run, &task, true);
    worker.set_interval(5000000);
    // Five runs within the bound: a pause of 5 s between them would miss it by far.
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(wait_until([&] { return task.runs >= 5; }));

    bool paused = false;
    EXPECT_LT(time_of([&] { paused = worker.pause(); }), generous);
    EXPECT_TRUE(paused);
    EXPECT_EQ(worker.get_state(), kestro_socket_thread::STATE_PAUSED);
    EXPECT_TRUE(worker.start());
    bool stopped = false;
    EXPECT_LT(time_of([&] { stopped = worker.stop(); }), generous);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(worker.get_state(), kestro_socket_thread::STATE_STOPPED);
}

TEST(net_kestro_socket_thread, a_task_pauses_and_stops_its_own_thread) {
    kestro_socket_thread worker;
    counting_task task;
    std::atomic<bool> own_start_refused{false};
    task.answer = [&](int run) {
        if (run == 1) {
            own_start_refused = !worker.start();
            worker.pause();
        }
        if (run == 3) worker.stop();
        return 0;
    };
    worker.set_task(&counting_task::run, &task, true);
    worker.set_interval(1000);
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(
        wait_until([&] { return worker.get_state() == kestro_socket_thread::STATE_PAUSED; }));
    EXPECT_TRUE(own_start_refused);
    EXPECT_EQ(task.runs, 1);

    EXPECT_TRUE(worker.start());
    ASSERT_TRUE(
        wait_until([&] { return worker.get_state() == kestro_socket_thread::STATE_STOPPED; }));
    // stop() joins the thread that stopped itself; no run may follow the one that stopped.
    EXPECT_TRUE(worker.stop());
    EXPECT_EQ(task.runs, 3);
}

}  // namespace
