#include "net/kestro_socket_thread.h"

#include "platform/clock.h"
#include "tools/str_utils.h"

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;

kestro_socket_thread::kestro_socket_thread()
    : m_task(nullptr),
      m_argument(nullptr),
      m_thread_id(0),
      m_state(STATE_IDLE),
      m_interval(1),
      m_sleep_after_run(false) {}

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
    while ((state = m_state.load()) == STATE_PAUSE_REQUESTED) KESTRO::TOOLS::sleep_ms(1);
    return state == STATE_PAUSED;
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
    while (m_state.load() == STATE_STOP_REQUESTED) KESTRO::TOOLS::sleep_ms(1);
    join_worker();
    return true;
}

bool kestro_socket_thread::pause_own_thread() {
    std::uint32_t state = m_state.load();
    if (state == STATE_PAUSED) return true;
    if (state == STATE_IDLE || state == STATE_STOPPED || state == STATE_STOP_REQUESTED) {
        return false;
    }
    // A stop requested meanwhile wins over the pause.
    return m_state.compare_exchange_strong(state, STATE_PAUSED);
}

bool kestro_socket_thread::stop_own_thread() {
    const std::uint32_t state = m_state.load();
    if (state != STATE_IDLE && state != STATE_STOPPED) m_state.store(STATE_STOPPED);
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
        if (task != nullptr && task(m_argument.load()) != 0) continue;
        after_run(task != nullptr);
    }
}

void kestro_socket_thread::after_run(bool task_ran) {
    std::uint32_t state = STATE_PAUSE_REQUESTED;
    if (m_state.compare_exchange_strong(state, STATE_PAUSED)) return;
    state = STATE_STOP_REQUESTED;
    if (m_state.compare_exchange_strong(state, STATE_STOPPED)) return;
    // A task that stopped its own thread leaves at once; a worker without a task pauses
    // between rounds instead of spinning.
    if (state == STATE_STOPPED || state == STATE_DESTROYED) return;
    if (!task_ran || m_sleep_after_run.load()) sleep_interval(m_interval.load());
}

void kestro_socket_thread::sleep_interval(int microseconds) {
    if (microseconds > 10000) {
        while (microseconds > 0) {
            const std::uint32_t state = m_state.load();
            if (state != STATE_IDLE && state != STATE_RUNNING && state != STATE_PAUSED) return;
            KESTRO::TOOLS::sleep_ms(10);
            microseconds -= 10000;
        }
    } else if (microseconds >= 1000) {
        KESTRO::TOOLS::sleep_ms(static_cast<std::uint32_t>(microseconds / 1000));
    } else {
        spin_wait(microseconds);
    }
}

void kestro_socket_thread::spin_wait(int microseconds) const {
    const double frequency = static_cast<double>(platform::perf_frequency());
    const std::int64_t start = platform::perf_counter();
    for (;;) {
        const double ticks = static_cast<double>(platform::perf_counter() - start);
        if (static_cast<std::int64_t>(ticks * 1000000.0 / frequency) >= microseconds) return;
    }
}
