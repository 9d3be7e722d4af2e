#include "net/socket_client.h"

#include <cstdio>
#include <sstream>

#include "net/dead_peer_bound.h"
#include "net/winsock_counter.h"

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;

namespace {

// How many entries one wait can report for the one socket (read and exception results),
// with room to spare.
constexpr unsigned ready_room = 3;

// The lines of the failed waits, by kind; each is followed by its count and ")".
constexpr const char* wait_error_lines[] = {
    "epoll_waite error! the call was interrupted by a signal handler before any of the "
    "requested events occurred or timeout expired. error times(",
    "epoll_waite error! epoll_handle:  is not a valid file descriptor. error times(",
    "epoll_waite error! epoll_event is not accessible with write. error times(",
    "epoll_waite error! m_epoll_handle is not an epoll file descriptor, or maxevents is less "
    "than or equal to zero. error times(",
    "epoll_waite error! undefine wait error. error times(",
};

unsigned wait_error_kind(int error) {
    switch (error) {
        case 4:
            return 0;
        case 9:
            return 1;
        case 14:
            return 2;
        case 22:
            return 3;
        default:
            return 4;
    }
}

}  // namespace

socket_client::socket_client()
    : m_connected(false),
      m_user(nullptr),
      m_callback(nullptr),
      m_receive_buffer(),
      m_socket(platform::invalid_socket),
      m_open(platform::invalid_socket),
      m_server_port(0),
      m_stop(false),
      m_wait_thread_id(0),
      m_users(0),
      m_receive_target(nullptr),
      m_received_full(false),
      m_ended(false) {
    static_assert(sizeof wait_error_lines / sizeof wait_error_lines[0] == wait_error_kinds,
                  "one line per kind of failed wait");
    winsock_acquire();
    // Without it no wait thread can be stopped, so connect refuses (see start_wait_thread).
    platform::waker_open(m_waker);
}

socket_client::~socket_client() {
    stop_wait_thread();
    close_socket();
    platform::waker_close(m_waker);
    winsock_release();
}

bool socket_client::is_connected() {
    return m_connected.load();
}

bool socket_client::connect(const std::string& server_ip, unsigned short server_port,
                            socket_event_callback callback, void* user) {
    // A connection that is still open keeps its socket and its wait thread; and the wait
    // thread cannot start its own successor, whose flags it would overwrite on its way out.
    if (m_socket.load() != platform::invalid_socket || on_wait_thread()) return false;
    // A wait thread that ended on a remote disconnect may still be on its way out, and the
    // connection it shut down is still open.
    stop_wait_thread();
    close_socket();
    m_callback.store(callback);
    m_user.store(user);
    m_server_ip = server_ip;
    m_server_port = server_port;
    m_connected.store(false);

    const platform::socket_t s = platform::socket_open_tcp();
    if (s == platform::invalid_socket) return false;
    // A close() from here on ends this connection, even one that comes while it is made.
    m_stop.store(false);
    m_open.store(s);
    m_socket.store(s);
    // Under the gate, like a send: a close() meanwhile does not close the handle under the
    // connect, and a connect it has shut down fails.
    enter_handle();
    bool ok = m_socket.load() == s &&
              platform::socket_connect(s, m_server_ip.c_str(), m_server_port, connect_timeout_ms);
    if (ok) {
        m_connected.store(true);
        ok = platform::socket_set_nodelay(s) && platform::socket_set_linger_zero(s);
        // Not fatal: the connection goes on with the system's own time-outs.
        const std::string refused = ok ? apply_dead_peer_bound(s) : std::string();
        if (!refused.empty()) log_text(refused);
    }
    if (ok) ok = start_wait_thread(s);
    leave_handle();
    return ok || fail_connect();
}

bool socket_client::fail_connect() {
    close_socket();
    m_connected.store(false);
    return false;
}

bool socket_client::close() {
    const bool was_connected = is_connected();
    stop_wait_thread();
    // Also the connection that a remote disconnect left shut down but open.
    close_socket();
    if (was_connected) on_disconnect(true);
    return true;
}

int socket_client::send(const char* data, int length) {
    const platform::socket_t s = enter_handle();
    const int result = s == platform::invalid_socket ? -1 : platform::socket_send(s, data, length);
    leave_handle();
    if (s == platform::invalid_socket) return -1;
    // A failed call's -1 travels as 0xFFFFFFFF.
    fire_event(EVENT_SEND, 0, data, static_cast<std::uint32_t>(result), s);
    return result;
}

bool socket_client::close_socket() {
    // From here on nobody takes the handle. Every access is sequentially consistent, so a
    // user either is counted below or finds no handle.
    m_socket.store(platform::invalid_socket);
    // Whoever takes the handle closes it, so it is closed once even when two threads close.
    const platform::socket_t s = m_open.exchange(platform::invalid_socket);
    if (s == platform::invalid_socket) return true;
    {
        locker<critical_lock> guard(m_control);
        m_poller.remove(s);
    }
    if (m_users.load() != 0) {
        // A closed number can be reused at once by the next file the process opens, and a
        // send under way would write into it: the handle stays until its users have left. A
        // send that waits for room, or a connect, returns once the socket is shut down.
        platform::socket_shutdown(s, true);
        while (!m_users_gone.wait_for(std::chrono::seconds(1),
                                      [this] { return m_users.load() == 0; })) {
        }
    }
    platform::socket_close(s);
    return true;
}

platform::socket_t socket_client::enter_handle() {
    m_users.fetch_add(1);
    return m_socket.load();
}

void socket_client::leave_handle() {
    if (m_users.fetch_sub(1) == 1) m_users_gone.notify();
}

bool socket_client::on_error() {
    log_text("event_client_error, will close this socket\n");
    return true;
}

bool socket_client::on_connect() {
    m_connected.store(true);
    return fire_event(EVENT_CONNECT, 0, nullptr, 0, m_socket.load());
}

bool socket_client::on_disconnect(bool local) {
    // A remote loss seen while close() runs, or a readable socket that also reports an
    // exception, must not tell the owner twice that the connection is gone.
    if (!m_connected.exchange(false)) return true;
    fire_event(local ? EVENT_LOCALE_DISCONNECT : EVENT_REMOTE_DISCONNECT, 0, nullptr, 0,
               m_socket.load());
    return true;
}

bool socket_client::on_read() {
    return receive(false) != receive_ended;
}

int socket_client::receive(bool without_wait) {
    const platform::socket_t s = m_socket.load();
    char* const into = m_receive_target != nullptr ? m_receive_target : m_receive_buffer;
    const int received = without_wait ? platform::socket_recv_now(s, into, receive_buffer_size)
                                      : platform::socket_recv(s, into, receive_buffer_size);
    m_received_full = received == receive_buffer_size;
    if (received == platform::socket_nothing_yet) return 0;
    if (received < 0) {
        const int error = platform::socket_last_error();
        if (received == -1 && error == 0) return receive_ended;
        std::ostringstream line;
        line << "client readline error(n_recved=" << received << ", errno=" << error << ")\n";
        log_text(line.str());
        on_error();
        return receive_ended;
    }
    if (received == 0) return receive_ended;  // the peer closed the connection
    fire_event(EVENT_RECV, 0, into, static_cast<std::uint32_t>(received), s);
    return received;
}

bool socket_client::on_write() {
    fire_event(EVENT_SEND, 0, nullptr, 0, 0);
    return true;
}

bool socket_client::fire_event(std::uint32_t type, std::int32_t error, const char* data,
                               std::uint32_t length, platform::socket_t socket) {
    const socket_event_callback callback = m_callback.load();
    if (callback == nullptr) return false;
    socket_event event(type, error, data, length, socket);
    callback(&event, m_user.load());
    return true;
}

void socket_client::set_receive_target(char* target) {
    m_receive_target = target;
}

void socket_client::log_text(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool socket_client::start_wait_thread(platform::socket_t s) {
    // Under the lock that stop_wait_thread joins under: a close() that came first is seen
    // here, and one that comes later finds the thread to join.
    locker<critical_lock> guard(m_control);
    if (m_waker.handle == platform::invalid_socket || m_stop.load()) return false;
    m_poller.add(s);
    return start_waiting();
}

bool socket_client::start_waiting() {
    std::uint32_t id = 0;
    if (!platform::thread_start(&_th_socket_wait, this, &m_wait_thread, &id)) return false;
    m_wait_thread_id.store(id);
    return true;
}

bool socket_client::stop_wait_thread() {
    m_stop.store(true);
    wake_waiting();
    // A callback on the wait thread may close: the loop ends after its current round, and
    // whoever closes or connects next, or the destructor, joins the thread.
    if (on_wait_thread()) return true;
    locker<critical_lock> guard(m_control);
    platform::thread_join(m_wait_thread);
    return true;
}

bool socket_client::on_wait_thread() const {
    return platform::current_thread_id() == m_wait_thread_id.load();
}

void socket_client::_th_socket_wait(void* self) {
    if (self == nullptr) return;
    auto* client = static_cast<socket_client*>(self);
    client->wait_enter(true);
    // At least one round, even when a callback of EVENT_CONNECT has already closed.
    while (client->wait_round()) {
    }
    client->wait_leave();
}

void socket_client::wait_enter(bool first) {
    // Stored here before any callback: one on this thread may close before the starting
    // thread has stored the identifier.
    m_wait_thread_id.store(platform::current_thread_id());
    if (!first) return;
    m_wait_errors = wait_errors{};
    m_ended = false;
    m_received_full = false;
    on_connect();
}

bool socket_client::wait_round() {
    // A receive that filled the buffer has most likely left more behind: that is taken at
    // once, since a wait would cost a system call only to find the socket readable.
    if (m_received_full) {
        const int received = receive(true);
        if (received == receive_ended) {
            m_ended = true;
            on_disconnect(false);
            m_stop.store(true);
        }
        if (received != 0) return !m_stop.load();
    }
    m_poller.prepare();
    // No time-out: data, an error or the waker ends the wait, and a quiet connection costs
    // nothing while it lasts.
    const int ready =
        platform::socket_wait(m_poller.read_set(), m_poller.except_set(), -1, &m_waker);
    if (ready > 0) {
        epoll_event entries[ready_room];
        if (m_poller.collect(entries, ready_room)) {
            const unsigned walk = static_cast<unsigned>(ready) < ready_room
                                      ? static_cast<unsigned>(ready)
                                      : ready_room;
            // Every entry is walked, even after one of them has asked to stop.
            for (unsigned i = 0; i < walk; ++i) m_ended = !handle_ready(entries[i]) || m_ended;
        }
    } else if (ready < 0) {
        report_wait_error(platform::socket_last_error());
    }
    return !m_stop.load();
}

void socket_client::wait_leave() {
    if (m_ended) end_connection();
    m_ended = false;
    m_wait_thread_id.store(0);
}

bool socket_client::wait_for_wake() {
    if (m_waker.handle == platform::invalid_socket) return false;
    platform::socket_wait(nullptr, nullptr, -1, &m_waker);
    return true;
}

void socket_client::wake_waiting() {
    if (m_waker.handle != platform::invalid_socket) platform::waker_notify(m_waker);
}

bool socket_client::handle_ready(const epoll_event& entry) {
    if (entry.socket != m_socket.load()) return true;
    bool ok;
    if (entry.kind == epoll_event::KIND_READABLE) {
        ok = on_read();
    } else if (entry.kind == epoll_event::KIND_WRITABLE) {
        ok = on_write();
    } else {
        on_error();
        ok = false;
    }
    if (!ok) {
        on_disconnect(false);
        m_stop.store(true);
    }
    return ok;
}

void socket_client::end_connection() {
    m_socket.store(platform::invalid_socket);
    // A callback may have closed it already.
    const platform::socket_t s = m_open.load();
    if (s != platform::invalid_socket) platform::socket_shutdown(s, true);
}

void socket_client::report_wait_error(int error) {
    const unsigned kind = wait_error_kind(error);
    // One line per kind and connection; later failures only count.
    if (++m_wait_errors.counts[kind] != 1) return;
    std::ostringstream line;
    line << wait_error_lines[kind] << m_wait_errors.counts[kind] << ")\n";
    log_text(line.str());
}
