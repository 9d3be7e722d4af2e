#include "net/socket_cache_client.h"

#include <algorithm>

#include "tools/str_utils.h"

socket_cache_client::socket_cache_client(unsigned int receive_stream_capacity)
    : m_owner_user(nullptr),
      m_owner_callback(nullptr),
      m_receive_stream(receive_stream_capacity),
      m_receive_thread(new kestro_socket_thread()),
      m_closing(false),
      m_new_connection(false),
      m_waiting(false),
      m_target(nullptr) {
    // The task waits on the socket itself and returns only when a pause or stop is asked,
    // which its waker makes it see at once; a paused thread then sleeps with no timer until
    // it is resumed or stopped.
    m_receive_thread->set_task(&receive_task, this, true);
    m_receive_thread->set_interval(kestro_socket_thread::until_woken);
    m_receive_thread->set_waker(&wake_receive_thread, this);
}

socket_cache_client::~socket_cache_client() {
    m_closing.store(true);
    m_receive_thread->stop();
    m_receive_thread.reset();
    clear_queues();
    set_receive_target(nullptr);
}

bool socket_cache_client::connect(const std::string& server_ip, unsigned short server_port,
                                  socket_event_callback callback, void* user) {
    if (!m_receive_thread->start()) {
        log_text(
            KESTRO::TOOLS::string_printf("start receive thread error, server ip:%s, server port:%d",
                                         server_ip.c_str(), static_cast<int>(server_port)));
        return false;
    }
    m_owner_user.store(user);
    m_owner_callback.store(callback);
    m_closing.store(false);
    return socket_client::connect(server_ip, server_port, &on_socket_event, this);
}

int socket_cache_client::send(const char* data, int length) {
    return socket_client::send(data, length);
}

bool socket_cache_client::close() {
    // The receive thread goes first, so that nothing is offered to the owner after its
    // disconnect event; what has arrived unconsumed is dropped.
    m_closing.store(true);
    m_receive_thread->stop();
    const bool result = socket_client::close();
    clear_queues();
    return result;
}

bool socket_cache_client::start_waiting() {
    m_new_connection.store(true);
    wake_waiting();
    // A receive thread that is being stopped either takes the connection first (its last run
    // looks for one after it has seen the request) and fires EVENT_CONNECT, or never does:
    // then the connect fails, rather than succeed without that event.
    const std::uint32_t state = m_receive_thread->get_state();
    if (state == kestro_socket_thread::STATE_RUNNING ||
        state == kestro_socket_thread::STATE_PAUSED ||
        state == kestro_socket_thread::STATE_PAUSE_REQUESTED) {
        return true;
    }
    return !m_new_connection.exchange(false);
}

int socket_cache_client::on_socket_event(socket_event* event, void* user) {
    auto* client = static_cast<socket_cache_client*>(user);
    if (client == nullptr || event == nullptr) return 0;
    if (event->type() == EVENT_RECV) {
        client->on_received(event->data(), event->length());
        return 0;
    }
    // The receive thread's first act on a connection: the first receive goes straight into
    // the stream.
    if (event->type() == EVENT_CONNECT) client->take_receive_target();
    const socket_event_callback callback = client->m_owner_callback.load();
    if (callback != nullptr) callback(event, client->m_owner_user.load());
    return 0;
}

std::int32_t socket_cache_client::receive_task(void* self) {
    if (self != nullptr) static_cast<socket_cache_client*>(self)->receive_until_asked();
    return 0;
}

void socket_cache_client::receive_until_asked() {
    bool entered = false;
    for (;;) {
        // Looked at before the new connection: one handed over before the request is begun
        // even when the request ends this run at once, so a connect that succeeded always
        // has its EVENT_CONNECT.
        const bool asked = !receive_thread_running();
        if (m_new_connection.exchange(false)) {
            m_waiting = true;
            wait_enter(true);
            entered = true;
        } else if (m_waiting && !entered) {
            wait_enter(false);  // resumed after a pause
            entered = true;
        }
        if (asked) break;
        if (!m_waiting) {
            // No connection (not yet, or no more): nothing but a connect or a request wakes
            // it. Without a waker (no connect can succeed then) the thread sleeps between runs
            // instead, where a request still reaches it.
            if (!wait_for_wake()) break;
        } else if (!wait_round()) {
            wait_leave();
            entered = false;
            m_waiting = false;
        }
    }
    if (entered) wait_leave();
    // A stop ends the waiting for good (a close or the destructor is under way); a paused
    // thread goes on with its connection once resumed.
    const std::uint32_t state = m_receive_thread->get_state();
    if (state != kestro_socket_thread::STATE_PAUSED &&
        state != kestro_socket_thread::STATE_PAUSE_REQUESTED) {
        m_waiting = false;
    }
}

bool socket_cache_client::receive_thread_running() const {
    return m_receive_thread->get_state() == kestro_socket_thread::STATE_RUNNING;
}

void socket_cache_client::wake_receive_thread(void* self) {
    static_cast<socket_cache_client*>(self)->wake_waiting();
}

void socket_cache_client::on_received(const char* data, std::size_t length) {
    // The bytes were received straight into the stream's free room and only need committing.
    // Only when the stream could not make room did they go to the socket's own buffer, and
    // are copied (or, with no memory for them either, dropped).
    if (m_target != nullptr) {
        m_receive_stream.commit(length);
    } else {
        m_receive_stream.append(data, length);
    }
    offer_stream();
    take_receive_target();
}

void socket_cache_client::take_receive_target() {
    m_target = m_receive_stream.reserve(receive_buffer_size);
    set_receive_target(m_target);
}

void socket_cache_client::offer_stream() {
    const socket_event_callback callback = m_owner_callback.load();
    if (callback == nullptr) return;
    // The stream is this thread's alone while it offers it: it is looked at once and
    // consumed once, with what the owner takes counted in between, instead of three locked
    // operations per message.
    const char* data = m_receive_stream.data();
    std::size_t length = m_receive_stream.length();
    std::size_t taken = 0;
    // Unconsumed bytes stay in front and are shown again with the next delivery; consumed
    // ones make room for an immediate offer of what follows them.
    while (length > 0) {
        socket_event record;
        record.set_type(EVENT_RECV);
        record.set_error(0);
        record.set_data(data, static_cast<std::uint32_t>(length));
        callback(&record, m_owner_user.load());
        const std::int32_t processed = record.processed();
        if (processed <= 0) break;
        // The owner closed from its call: the stream is dropped, nothing more is offered.
        if (m_closing.load()) return;
        const std::size_t used = std::min(static_cast<std::size_t>(processed), length);
        data += used;
        length -= used;
        taken += used;
    }
    if (taken > 0) m_receive_stream.consume(taken);
}

void socket_cache_client::clear_queues() {
    // The stream is the only queue: what the owner left unconsumed goes.
    m_receive_stream.clear();
}
