#include "event_recorder.h"

#include "platform/thread.h"

int event_recorder::callback(socket_event* event, void* user) {
    static_cast<event_recorder*>(user)->record(event);
    return 0;
}

void event_recorder::record(socket_event* event) {
    recorded_event entry{event->type(), platform::current_thread_id(), event->length(), {}};
    if (event->type() == EVENT_RECV && event->data() != nullptr) {
        entry.data.assign(event->data(), event->length());
    }
    {
        // The policy runs under the lock, so that what it keeps can be read in wait_for.
        std::lock_guard<std::mutex> guard(m_mutex);
        if (event->type() == EVENT_RECV && consume) event->set_processed(consume(entry.data));
        m_events.push_back(entry);
    }
    m_changed.notify_all();
    if (after) after(event);
}

bool event_recorder::wait_for(const std::function<bool(const events&)>& cond,
                              std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(m_mutex);
    return m_changed.wait_for(guard, bound, [&] { return cond(m_events); });
}

bool event_recorder::wait_for_type(std::uint32_t type, std::size_t count) {
    return wait_for([type, count](const events& all) {
        std::size_t n = 0;
        for (const recorded_event& e : all) n += e.type == type ? 1 : 0;
        return n >= count;
    });
}

std::uint32_t event_recorder::first_thread(std::uint32_t type) {
    for (const recorded_event& e : snapshot()) {
        if (e.type == type) return e.thread;
    }
    return 0;
}

event_recorder::events event_recorder::snapshot() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_events;
}

std::vector<std::uint32_t> event_recorder::types() {
    std::vector<std::uint32_t> result;
    for (const recorded_event& e : snapshot()) result.push_back(e.type);
    return result;
}

std::vector<std::string> event_recorder::received() {
    std::vector<std::string> result;
    for (const recorded_event& e : snapshot()) {
        if (e.type == EVENT_RECV) result.push_back(e.data);
    }
    return result;
}
