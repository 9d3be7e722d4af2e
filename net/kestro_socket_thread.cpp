#include "net/kestro_socket_thread.h"

#include <chrono>

#include "platform/clock.h"

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;
using KESTRO::TOOLS::wake_signal;

namespace {
// How long a controller waits for the worker's answer before it looks again; the answer
// itself comes with a notify, so this only bounds the wait of one look.
constexpr auto answer_look = std::chrono::seconds(1);
}  // namespace

kestro_socket_thread::kestro_socket_thread()
    : m_task(nullptr),
      m_argument(nullptr),
      m_thread_id(0),
      m_state(STATE_IDLE),
      m_interval(1),
      m_sleep_after_run(false),
      m_waker(nullptr),
      m_waker_argument(nullptr),
      m_wake_requested(false),
      m_sleeping(false) {}

kestro_socket_thread::~kestro_socket_thread() {
    stop();
    locker<critical_lock> guard(m_control);
    m_state.store(STATE_DESTROYED);
    // Only reached with a live handle when the task destroys its own thread object, where
    // joining would wait for itself.
    platform::thread_detach(m_handle);
}

std::string kestro_socket_thread::thread_name() const {
    return std::string();
}

void kestro_socket_thread::set_task(task_proc task, void* argument, bool sleep_after_run) {
    m_argument.store(argument);
    m_sleep_after_run.store(sleep_after_run);
    m_task.store(task);
}

void kestro_socket_thread::set_interval(unsigned int microseconds) {
    m_interval.store(static_cast<std::int32_t>(microseconds));
}

void kestro_socket_thread::set_waker(waker_proc waker, void* argument) {
    m_waker_argument.store(argument);
    m_waker.store(waker);
}

bool kestro_socket_thread::is_own_thread() const {
    return m_thread_id.load() == platform::current_thread_id();
}

bool kestro_socket_thread::start() {
    if (is_own_thread()) return false;
    locker<critical_lock> guard(m_control);
    const std::uint32_t state = m_state.load();
    if (state == STATE_RUNNING) return true;
    if (state == STATE_PAUSED || state == STATE_PAUSE_REQUESTED) {
        m_state.store(STATE_RUNNING);
        m_signal.notify();  // a paused worker sleeps until told
        return true;
    }
    if (state != STATE_IDLE && state != STATE_STOPPED) return false;
    // A worker that stopped itself is still leaving its loop; it has to be gone before the
    // state changes again, or it would go on beside its successor.
    join_worker();
    // Running before the worker exists: a worker that found itself idle would first sleep a
    // whole interval, however long, before its first run.
    m_state.store(STATE_RUNNING);
    std::uint32_t id = 0;
    if (!platform::thread_start(&_th_kestro_socket_thread, this, &m_handle, &id)) {
        m_thread_id.store(0);
        m_state.store(STATE_IDLE);
        return false;
    }
    m_thread_id.store(id);
    return true;
}

bool kestro_socket_thread::pause() {
    if (is_own_thread()) return pause_own_thread();
    locker<critical_lock> guard(m_control);
    std::uint32_t state = m_state.load();
    for (;;) {
        if (state == STATE_PAUSED) return true;
        if (state != STATE_RUNNING) return false;
        if (m_state.compare_exchange_weak(state, STATE_PAUSE_REQUESTED)) break;
    }
    // The worker acknowledges after its current run; it may stop itself instead.
    return await_answer(STATE_PAUSE_REQUESTED) == STATE_PAUSED;
}

bool kestro_socket_thread::stop() {
    if (is_own_thread()) return stop_own_thread();
    locker<critical_lock> guard(m_control);
    std::uint32_t state = m_state.load();
    for (;;) {
        if (state == STATE_IDLE || state == STATE_STOPPED || state == STATE_DESTROYED) {
            join_worker();
            return true;
        }
        if (m_state.compare_exchange_weak(state, STATE_STOP_REQUESTED)) break;
    }
    await_answer(STATE_STOP_REQUESTED);
    join_worker();
    return true;
}

void kestro_socket_thread::wake() {
    m_wake_requested.store(true);
    // Both flags are sequentially consistent: either the sleeper sees the request when it
    // looks, or this sees it sleeping and notifies. A busy worker costs no lock.
    if (m_sleeping.load()) m_signal.notify();
}

std::uint32_t kestro_socket_thread::await_answer(std::uint32_t request) {
    // The request ends a sleep at once rather than at the end of its interval, and a wait
    // of the task's own through its waker.
    m_signal.notify();
    if (const waker_proc waker = m_waker.load()) waker(m_waker_argument.load());
    std::uint32_t state;
    while (!m_signal.wait_for(answer_look, [&] { return (state = m_state.load()) != request; })) {
    }
    return state;
}

bool kestro_socket_thread::pause_own_thread() {
    std::uint32_t state = m_state.load();
    if (state == STATE_PAUSED) return true;
    if (state == STATE_IDLE || state == STATE_STOPPED || state == STATE_STOP_REQUESTED) {
        return false;
    }
    // A stop requested meanwhile wins over the pause.
    if (!m_state.compare_exchange_strong(state, STATE_PAUSED)) return false;
    m_signal.notify();  // it answers a controller's pause request, if there is one
    return true;
}

bool kestro_socket_thread::stop_own_thread() {
    const std::uint32_t state = m_state.load();
    if (state != STATE_IDLE && state != STATE_STOPPED) {
        m_state.store(STATE_STOPPED);
        m_signal.notify();  // a controller waiting for a pause gets this answer instead
    }
    return true;
}

void kestro_socket_thread::join_worker() {
    if (m_handle.native == nullptr) return;
    platform::thread_join(m_handle);
    m_thread_id.store(0);
}

void kestro_socket_thread::_th_kestro_socket_thread(void* self) {
    if (self != nullptr) static_cast<kestro_socket_thread*>(self)->run();
}

void kestro_socket_thread::run() {
    // Stored here as well as by start(): the task may ask is_own_thread() before start()
    // has stored the identifier.
    m_thread_id.store(platform::current_thread_id());
    for (;;) {
        const std::uint32_t state = m_state.load();
        if (state == STATE_STOPPED || state == STATE_DESTROYED) return;
        if (state == STATE_IDLE || state == STATE_PAUSED) {
            sleep_interval(m_interval.load());
            continue;
        }
        const task_proc task = m_task.load();
        // This run serves every wake so far; one that comes during it ends the next sleep.
        if (m_wake_requested.load()) m_wake_requested.store(false);
        if (task != nullptr && task(m_argument.load()) != 0) continue;
        after_run(task != nullptr);
    }
}

void kestro_socket_thread::after_run(bool task_ran) {
    if (answer(STATE_PAUSE_REQUESTED, STATE_PAUSED) ||
        answer(STATE_STOP_REQUESTED, STATE_STOPPED)) {
        return;
    }
    // A task that stopped its own thread leaves at once; a worker without a task pauses
    // between rounds instead of spinning.
    const std::uint32_t state = m_state.load();
    if (state == STATE_STOPPED || state == STATE_DESTROYED) return;
    if (!task_ran || m_sleep_after_run.load()) sleep_interval(m_interval.load());
}

void kestro_socket_thread::sleep_interval(int microseconds) {
    const std::uint32_t slept_in = m_state.load();
    if (microseconds >= 0 && microseconds < 1000) {
        spin_wait(microseconds, slept_in);
        return;
    }
    const auto ends = [this, slept_in] { return sleep_ends(slept_in); };
    m_sleeping.store(true);
    if (microseconds < 0) {
        m_signal.wait(ends);
    } else {
        // One deadline, not a count of short sleeps: a sleep lasts at least a timer tick
        // (15.6 ms by default on Windows), so counted steps would stretch the interval by that
        // much each.
        const auto length =
            microseconds > 10000
                ? wake_signal::clock::duration(std::chrono::microseconds(microseconds))
                : std::chrono::milliseconds(microseconds / 1000);
        m_signal.wait_for(length, ends);
    }
    m_sleeping.store(false);
}

bool kestro_socket_thread::answer(std::uint32_t request, std::uint32_t answer_state) {
    if (!m_state.compare_exchange_strong(request, answer_state)) return false;
    m_signal.notify();  // the controller waits for this answer
    return true;
}

bool kestro_socket_thread::sleep_ends(std::uint32_t slept_in) const {
    const std::uint32_t state = m_state.load();
    if (state != STATE_IDLE && state != STATE_RUNNING && state != STATE_PAUSED) return true;
    // A resume: the worker runs again at once, not when the interval of its pause runs out.
    if (state != slept_in) return true;
    return state == STATE_RUNNING && m_wake_requested.load();
}

void kestro_socket_thread::spin_wait(int microseconds, std::uint32_t slept_in) const {
    const double frequency = static_cast<double>(platform::perf_frequency());
    const std::int64_t start = platform::perf_counter();
    for (;;) {
        const double ticks = static_cast<double>(platform::perf_counter() - start);
        if (static_cast<std::int64_t>(ticks * 1000000.0 / frequency) >= microseconds) return;
        if (sleep_ends(slept_in)) return;
    }
}
