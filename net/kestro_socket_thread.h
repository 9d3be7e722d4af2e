// Internal. kestro_socket_thread: a worker thread that runs one task again and again with a
// pause of `interval` microseconds (or, with until_woken, a pause that only a wake, a request or
// a resume ends), and can be paused, resumed, stopped and woken. Entered by
// any controlling thread and by its own worker (from inside the task). It owns its platform
// thread; m_control serialises the controllers (start/pause/stop and the thread handle), the
// state is an atomic written by both sides: requests by controllers, acknowledgements by the
// worker. Both sides wait on m_signal, against the monotonic clock, and notify it after a
// change the other side waits for.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/thread.h"
#include "tools/critical_lock.h"
#include "tools/wake_signal.h"

class kestro_socket_thread {
public:
    // The task: a result other than 0 asks to run again at once, without the pause.
    using task_proc = std::int32_t (*)(void* argument);
    // Ends a wait of the task's own, so that a pause or stop request is seen at once.
    using waker_proc = void (*)(void* argument);

    // An interval that never runs out: between runs the worker blocks, with no timer, until
    // a wake, a pause or stop request, or a resume.
    static constexpr unsigned int until_woken = 0xFFFFFFFFu;

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
    // Any thread, before start(): for a task that blocks in a wait of its own (on a socket,
    // say), which every pause and stop request then ends by calling waker(argument) after
    // asking. The task looks at get_state() when its wait returns.
    void set_waker(waker_proc waker, void* argument);

    // Any thread but the worker (which gets false). Creates the worker when idle or
    // stopped, resumes it (at once) when paused. False when a stop is under way, the object is
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
    // Any thread. Ends the worker's interval sleep at once so that the task runs again; a
    // wake that comes while the task runs ends the sleep after that run. Only a running
    // worker is woken: a paused one sleeps on until it is resumed.
    void wake();

    // Any thread.
    std::uint32_t get_state() const { return m_state.load(); }
    void set_state(std::uint32_t state) { m_state.store(state); }
    std::uint32_t get_thread_id() const { return m_thread_id.load(); }
    bool is_own_thread() const;

    // The worker (any thread may call it; it only waits). Above 10 ms it waits the whole
    // interval, from 1 to 10 ms whole milliseconds, measured against a deadline; from 0 to
    // 1 ms it spins on the high-resolution counter; a negative one (until_woken) has no end of
    // its own. A pause or stop request, a resume, or a wake of a running worker, ends any of
    // them early.
    void sleep_interval(int microseconds);

private:
    static void _th_kestro_socket_thread(void* self);
    void run();
    void after_run(bool task_ran);
    // The worker: acknowledges a pause or stop request; false when it is not the one made.
    bool answer(std::uint32_t request, std::uint32_t answer_state);
    bool pause_own_thread();
    bool stop_own_thread();
    // Joins a worker that has left, or is leaving, its loop. Under m_control.
    void join_worker();
    // A controller, under m_control: waits until the worker has answered the request.
    std::uint32_t await_answer(std::uint32_t request);
    // Whether an interval sleep that began in state `slept_in` ends now.
    bool sleep_ends(std::uint32_t slept_in) const;
    void spin_wait(int microseconds, std::uint32_t slept_in) const;

    std::atomic<task_proc> m_task;
    std::atomic<void*> m_argument;
    std::atomic<std::uint32_t> m_thread_id;
    std::atomic<std::uint32_t> m_state;
    std::atomic<std::int32_t> m_interval;
    std::atomic<bool> m_sleep_after_run;
    std::atomic<waker_proc> m_waker;
    std::atomic<void*> m_waker_argument;
    platform::thread_handle m_handle;
    KESTRO::TOOLS::critical_lock m_control;
    KESTRO::TOOLS::wake_signal m_signal;
    std::atomic<bool> m_wake_requested;
    // The worker is in an interval sleep: only then does a wake need the signal.
    std::atomic<bool> m_sleeping;
};
