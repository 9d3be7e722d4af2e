#include "session_events.h"

#include <cstring>

namespace {

// The library's fixed texts: a connection lost while its worker runs (it then reconnects), and
// the worker's login on the new connection, accepted or refused.
constexpr const char* lost_text = "[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:1";
constexpr const char* restored_text = "[QuoteClient] relogin success";
constexpr const char* refused_text = "[QuoteClient] relogin failed";

bool starts_with(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

namespace {

// Each event's name and text, in the order of the enumeration.
struct event_words {
    const char* name;
    const char* text;
};
constexpr event_words words[] = {
    {"logged_in", "logged in to the quote server"},
    {"connection_lost", "the connection to the quote server was lost; the library reconnects"},
    {"connection_restored", "connected and logged in again; registrations are being restored"},
    {"registrations_restored", "every registration has been answered again"},
    {"session_ended", "the login on the new connection was refused; the session is over"},
};

static_assert(sizeof words / sizeof words[0] ==
                  static_cast<std::size_t>(session_event::session_ended) + 1,
              "a name and a text for every event");

const event_words& words_of(session_event event) {
    return words[static_cast<std::size_t>(event)];
}

}  // namespace

const char* session_event_name(session_event event) {
    return words_of(event).name;
}

const char* session_event_text(session_event event) {
    return words_of(event).text;
}

void session_events::tell(session_event event, int count) {
    if (m_emit) m_emit(event, count);
}

void session_events::on_login_reply(bool success) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (success) tell(session_event::logged_in, 0);
}

void session_events::on_log_line(const char* text) {
    if (text == nullptr) return;
    if (starts_with(text, lost_text)) {
        on_connection_lost();
    } else if (starts_with(text, restored_text)) {
        on_connection_restored();
    } else if (starts_with(text, refused_text)) {
        std::lock_guard<std::mutex> guard(m_lock);
        tell(session_event::session_ended, 0);
    }
}

void session_events::on_connection_lost() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_lost) return;
    m_lost = true;
    m_ever_lost = true;
    m_replies = -1;
    tell(session_event::connection_lost, 0);
}

void session_events::on_connection_restored() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_lost) return;
    m_lost = false;
    m_replies = 0;
    m_accepted = 0;
    tell(session_event::connection_restored, 0);
    // With nothing to restore, the restore is complete as it starts.
    if (m_registered == 0) {
        m_replies = -1;
        tell(session_event::registrations_restored, 0);
    }
}

void session_events::on_register_reply(bool success) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_ever_lost) {
        if (success) ++m_registered;
        return;
    }
    if (m_replies < 0) return;  // not restoring: a late reply, or one more than was asked
    ++m_replies;
    if (success) ++m_accepted;
    if (m_replies < m_registered) return;
    m_replies = -1;
    tell(session_event::registrations_restored, m_accepted);
}
