#include "event_recorder.h"

#include "platform/thread.h"

int event_recorder::callback(socket_event* event, void* user) {
    auto* self = static_cast<event_recorder*>(user);
    if (event->type() == EVENT_SEND && self->skip_sends) return 0;
    recorded_event entry{event->type(), platform::current_thread_id(), {}};
    if (event->type() == EVENT_RECV) entry.data.assign(event->data(), event->length());
    {
        // The policy runs under the lock, so that what it keeps can be read in wait_for.
        std::lock_guard<std::mutex> guard(self->m_mutex);
        if (event->type() == EVENT_RECV && self->consume) {
            event->set_processed(self->consume(entry.data));
        }
        self->m_events.push_back(entry);
    }
    self->m_changed.notify_all();
    if (self->after) self->after(event);
    return 0;
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

void event_recorder::clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_events.clear();
}

std::uint32_t event_recorder::first_thread(std::uint32_t type) {
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const recorded_event& e : m_events) {
        if (e.type == type) return e.thread;
    }
    return 0;
}

std::vector<std::uint32_t> event_recorder::types() {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<std::uint32_t> result;
    for (const recorded_event& e : m_events) result.push_back(e.type);
    return result;
}

std::vector<std::string> event_recorder::received() {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<std::string> result;
    for (const recorded_event& e : m_events) {
        if (e.type == EVENT_RECV) result.push_back(e.data);
    }
    return result;
}
