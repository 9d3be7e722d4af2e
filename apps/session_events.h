// Internal to the programs we ship. Tells the quote session's events (logged in, connection
// lost, connection restored, registrations restored, session ended) from what the C++
// interface shows of them: the login reply, the library's own log lines for a lost connection
// and for the login on the new one, and the register replies that follow a restore. The one
// place that knows those texts: where an interface reports the connection events itself, its
// events go to on_connection_lost and on_connection_restored instead of the log lines.
#pragma once

#include <functional>
#include <mutex>

enum class session_event {
    logged_in,
    connection_lost,         // while logged in; the library reconnects by itself
    connection_restored,     // connected and logged in again; registrations follow
    registrations_restored,  // every registration has its reply again
    session_ended,           // the library gave up: the login on the new connection was refused
};

// The event's name as the programs write it ("logged_in", "connection_lost", ...), and a
// sentence saying what happened.
const char* session_event_name(session_event event);
const char* session_event_text(session_event event);

// Library threads call the on_ operations, any of them at the same time. m_lock guards the
// counts and is held while `emit` runs, so that events leave in the order they happened;
// `emit` must return promptly and must not call back.
class session_events {
public:
    // `count`: for registrations_restored the registrations accepted again, otherwise 0.
    using emit_fn = std::function<void(session_event event, int count)>;

    explicit session_events(emit_fn emit) : m_emit(std::move(emit)) {}

    void on_login_reply(bool success);
    void on_log_line(const char* text);
    void on_register_reply(bool success);
    void on_connection_lost();
    void on_connection_restored();

private:
    void tell(session_event event, int count);  // m_lock held

    const emit_fn m_emit;
    std::mutex m_lock;
    bool m_ever_lost = false;
    bool m_lost = false;   // lost and not restored yet
    int m_registered = 0;  // registrations accepted before the first loss
    int m_replies = -1;    // register replies since the last restore; -1 when not restoring
    int m_accepted = 0;    // of which accepted
};
