// Internal. socket_client: one IPv4 TCP connection to a server with a wait thread of its own
// that watches the socket, receives into a fixed buffer and reports every connection
// happening to one owner callback. Entered by the owner's threads (connect, send, close) and
// by its wait thread; it takes no lock: the flags and the socket handle are atomics, and the
// poller and receive buffer belong to the wait thread while it runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "net/epoll_set.h"
#include "net/socket_event.h"
#include "platform/socket.h"

class socket_client {
public:
    static constexpr int receive_buffer_size = 8192;

    // Any thread. Unconnected; acquires the sockets start-up counter.
    socket_client();
    // Any thread but the wait thread, after close(): it neither stops the wait thread nor
    // closes the socket. Releases the sockets start-up counter.
    virtual ~socket_client();
    socket_client(const socket_client&) = delete;
    socket_client& operator=(const socket_client&) = delete;

    // Any thread.
    virtual bool is_connected();

    // An owner thread, not the wait thread, while no connection is open. Opens the
    // connection and starts the wait thread, which fires EVENT_CONNECT as its first act.
    // False, with the socket invalid and no event, when any step fails.
    bool connect(const std::string& server_ip, unsigned short server_port,
                 socket_event_callback callback, void* user);
    // Any thread. Stops the wait thread (waiting until it has ended unless called on it)
    // and, when connected, fires EVENT_LOCALE_DISCONNECT on the calling thread. Always true.
    bool close();
    // Any thread. One send call; fires EVENT_SEND with its result on the calling thread and
    // returns it. -1, with no event, when there is no socket.
    int send(const char* data, int length);
    // Any thread.
    platform::socket_t get_socket() const { return m_socket.load(); }

protected:
    // The wait thread, or the closing thread once the wait thread has ended.
    virtual bool close_socket();
    // The wait thread.
    virtual bool on_error();
    virtual bool on_connect();
    // The wait thread (remote) or the closing thread (local). Fires at most one disconnect
    // per connection.
    virtual bool on_disconnect(bool local);
    virtual bool on_read();
    virtual bool on_write();

    // Any thread. False when no callback is set; the callback's result is ignored.
    bool fire_event(std::uint32_t type, std::int32_t error, const char* data, std::uint32_t length,
                    platform::socket_t socket);
    // Any thread. Writes the text as it stands to standard output.
    void log_text(const std::string& text);

private:
    struct wait_errors;

    bool fail_connect();
    bool start_wait_thread();
    bool stop_wait_thread();
    bool on_wait_thread() const;
    static void _th_socket_wait(void* self);
    void wait_loop();
    void handle_ready(const epoll_event& entry);
    void report_wait_error(int error, wait_errors& errors);

    std::atomic<bool> m_connected;
    std::atomic<void*> m_user;
    std::atomic<socket_event_callback> m_callback;
    char m_receive_buffer[receive_buffer_size];
    std::atomic<platform::socket_t> m_socket;
    std::string m_server_ip;
    std::uint16_t m_server_port;
    epoll_set m_poller;
    std::atomic<bool> m_stop;
    // Written true as the wait thread's last touch of this object.
    std::atomic<bool> m_exited;
    std::atomic<std::uint32_t> m_wait_thread_id;
    // A wait thread was started and nobody has yet waited for its end.
    std::atomic<bool> m_wait_started;
};
