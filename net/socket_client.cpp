#include "net/socket_client.h"

#include <cstdio>
#include <sstream>

#include "net/winsock_counter.h"
#include "platform/thread.h"
#include "tools/str_utils.h"

namespace {

// How many entries one wait can report for the one socket (read and exception results),
// with room to spare.
constexpr unsigned ready_room = 3;
constexpr long wait_timeout_us = 50;

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
constexpr unsigned wait_error_kinds = sizeof wait_error_lines / sizeof wait_error_lines[0];

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

// Failed waits per kind, for one run of the wait thread.
struct socket_client::wait_errors {
    std::uint32_t counts[wait_error_kinds] = {};
};

socket_client::socket_client()
    : m_connected(false),
      m_user(nullptr),
      m_callback(nullptr),
      m_receive_buffer(),
      m_socket(platform::invalid_socket),
      m_server_port(0),
      m_stop(false),
      m_exited(false),
      m_wait_thread_id(0),
      m_wait_started(false) {
    winsock_acquire();
}

socket_client::~socket_client() {
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
    // A wait thread that ended on a remote disconnect may still be on its way out; the flags
    // below are its own until it is gone.
    stop_wait_thread();
    m_callback.store(callback);
    m_user.store(user);
    m_server_ip = server_ip;
    m_server_port = server_port;
    m_connected.store(false);

    const platform::socket_t s = platform::socket_open_tcp();
    if (s == platform::invalid_socket) return false;
    m_socket.store(s);
    if (!platform::socket_connect(s, m_server_ip.c_str(), m_server_port)) {
        return fail_connect();
    }
    m_connected.store(true);
    if (!platform::socket_set_nodelay(s) || !platform::socket_set_linger_zero(s)) {
        return fail_connect();
    }
    m_poller.add(s);
    if (!start_wait_thread()) return fail_connect();
    return true;
}

bool socket_client::fail_connect() {
    close_socket();
    m_connected.store(false);
    m_exited.store(true);
    return false;
}

bool socket_client::close() {
    const bool was_connected = is_connected();
    stop_wait_thread();
    if (was_connected) {
        close_socket();
        on_disconnect(true);
    }
    return true;
}

int socket_client::send(const char* data, int length) {
    const platform::socket_t s = m_socket.load();
    if (s == platform::invalid_socket) return -1;
    const int result = platform::socket_send(s, data, length);
    // A failed call's -1 travels as 0xFFFFFFFF.
    fire_event(EVENT_SEND, 0, data, static_cast<std::uint32_t>(result), s);
    return result;
}

bool socket_client::close_socket() {
    // Whoever takes the handle closes it, so it is closed once even when the owner and the
    // wait thread both get here.
    const platform::socket_t s = m_socket.exchange(platform::invalid_socket);
    if (s != platform::invalid_socket) {
        m_poller.remove(s);
        platform::socket_close(s);
    }
    return true;
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
    const platform::socket_t s = m_socket.load();
    const int received = platform::socket_recv(s, m_receive_buffer, receive_buffer_size);
    if (received < 0) {
        const int error = platform::socket_last_error();
        if (received == -1 && error == 0) return false;
        std::ostringstream line;
        line << "client readline error(n_recved=" << received << ", errno=" << error << ")\n";
        log_text(line.str());
        on_error();
        return false;
    }
    if (received == 0) return false;  // the peer closed the connection
    fire_event(EVENT_RECV, 0, m_receive_buffer, static_cast<std::uint32_t>(received), s);
    return true;
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

void socket_client::log_text(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool socket_client::start_wait_thread() {
    m_stop.store(false);
    m_exited.store(false);
    m_wait_started.store(true);
    // Detached: close() waits for m_exited instead, which also works on the thread itself.
    // The thread stores its own identifier, before anything on it can ask for it.
    if (!platform::thread_start(&_th_socket_wait, this, nullptr, nullptr)) {
        m_wait_started.store(false);
        return false;
    }
    return true;
}

bool socket_client::stop_wait_thread() {
    if (!m_wait_started.load()) return true;
    m_stop.store(true);
    // A callback on the wait thread may close: the loop ends after its current round.
    if (on_wait_thread()) return true;
    while (!m_exited.load()) KESTRO::TOOLS::sleep_ms(1);
    m_wait_started.store(false);
    return true;
}

bool socket_client::on_wait_thread() const {
    return m_wait_started.load() && platform::current_thread_id() == m_wait_thread_id.load();
}

void socket_client::_th_socket_wait(void* self) {
    if (self != nullptr) static_cast<socket_client*>(self)->wait_loop();
}

void socket_client::wait_loop() {
    // Stored here before any callback: one on this thread may close before the starting
    // thread has stored the identifier.
    m_wait_thread_id.store(platform::current_thread_id());
    on_connect();
    wait_errors errors;
    bool busy = false;
    // At least one round, even when a callback of EVENT_CONNECT has already closed.
    do {
        // While data keep coming, look without a time-out first: a timed wait costs the
        // kernel a clock reading and a timer even when the socket is already readable. The
        // round still waits its full time-out when nothing is ready.
        int ready = 0;
        if (busy) {
            m_poller.prepare();
            ready = platform::socket_wait(m_poller.read_set(), m_poller.except_set(), 0);
        }
        if (ready == 0) {
            m_poller.prepare();
            ready =
                platform::socket_wait(m_poller.read_set(), m_poller.except_set(), wait_timeout_us);
        }
        busy = ready > 0;
        if (ready > 0) {
            epoll_event entries[ready_room];
            if (m_poller.collect(entries, ready_room)) {
                const unsigned walk = static_cast<unsigned>(ready) < ready_room
                                          ? static_cast<unsigned>(ready)
                                          : ready_room;
                // Every entry is walked, even after one of them has asked to stop.
                for (unsigned i = 0; i < walk; ++i) handle_ready(entries[i]);
            }
        } else if (ready < 0) {
            report_wait_error(platform::socket_last_error(), errors);
        }
    } while (!m_stop.load());
    close_socket();
    m_wait_thread_id.store(0);
    // The last touch of this object: close() may return and the owner delete it right after.
    m_exited.store(true);
}

void socket_client::handle_ready(const epoll_event& entry) {
    if (entry.socket != m_socket.load()) return;
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
}

void socket_client::report_wait_error(int error, wait_errors& errors) {
    const unsigned kind = wait_error_kind(error);
    // One line per kind and run of the wait thread; later failures only count.
    if (++errors.counts[kind] != 1) return;
    std::ostringstream line;
    line << wait_error_lines[kind] << errors.counts[kind] << ")\n";
    log_text(line.str());
}
