// Internal. kestro_socket_thread: a worker thread that runs one task again and again with a
// pause of `interval` microseconds, and can be paused, resumed and stopped. Entered by any
// controlling thread and by its own worker (from inside the task). It owns its platform
// thread; m_control serialises the controllers (start/pause/stop and the thread handle), the
// state is an atomic written by both sides: requests by controllers, acknowledgements by the
// worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/thread.h"
#include "tools/critical_lock.h"

class kestro_socket_thread {
public:
    // The task: a result other than 0 asks to run again at once, without the pause.
    using task_proc = std::int32_t (*)(void* argument);

    enum thread_state : std::uint32_t {
        STATE_IDLE = 0,
        STATE_RUNNING = 1,
        STATE_PAUSED = 2,
        STATE_PAUSE_REQUESTED = 3,
        STATE_STOPPED = 4,
        STATE_STOP_REQUESTED = 5,
        STATE_DESTROYED = 6,
    };

    // Any thread. Idle; no platform thread until start().
    kestro_socket_thread();
    // Any thread but the worker: stops the worker and waits until it has ended.
    virtual ~kestro_socket_thread();
    kestro_socket_thread(const kestro_socket_thread&) = delete;
    kestro_socket_thread& operator=(const kestro_socket_thread&) = delete;

    // Any thread.
    virtual std::string thread_name() const;

    // Any thread; the worker sees the new values from its next round on.
    void set_task(task_proc task, void* argument, bool sleep_after_run);
    void set_interval(unsigned int microseconds);

    // Any thread but the worker (which gets false). Creates the worker when idle or
    // stopped, resumes it when paused. False when a stop is under way, the object is
    // destroyed, or the platform thread cannot be created (the state is then idle again).
    bool start();
    // Any thread. From a controller: asks for a pause and waits until the worker has
    // finished its current run. On the worker itself: pauses without waiting. False when
    // idle, stopped or stopping.
    bool pause();
    // Any thread. From a controller: asks for a stop, waits until the worker has finished
    // its current run and then until it has ended. On the worker itself: marks the thread
    // stopped without waiting; it ends after the current run. True at once when idle or
    // stopped.
    bool stop();

    // Any thread.
    std::uint32_t get_state() const { return m_state.load(); }
    void set_state(std::uint32_t state) { m_state.store(state); }
    std::uint32_t get_thread_id() const { return m_thread_id.load(); }
    bool is_own_thread() const;

    // The worker (any thread may call it; it only waits). Above 10 ms it sleeps in 10 ms
    // steps and ends early once a pause or stop is requested; from 1 to 10 ms it sleeps
    // once; below 1 ms it spins on the high-resolution counter.
    void sleep_interval(int microseconds);

private:
    static void _th_kestro_socket_thread(void* self);
    void run();
    void after_run(bool task_ran);
    bool pause_own_thread();
    bool stop_own_thread();
    // Joins a worker that has left, or is leaving, its loop. Under m_control.
    void join_worker();
    void spin_wait(int microseconds) const;

    std::atomic<task_proc> m_task;
    std::atomic<void*> m_argument;
    std::atomic<std::uint32_t> m_thread_id;
    std::atomic<std::uint32_t> m_state;
    std::atomic<std::int32_t> m_interval;
    std::atomic<bool> m_sleep_after_run;
    platform::thread_handle m_handle;
    KESTRO::TOOLS::critical_lock m_control;
};
