// Internal. socket_client: one IPv4 TCP connection to a server with a wait thread of its own
// that watches the socket, receives into a fixed buffer and reports every connection
// happening to one owner callback. Entered by the owner's threads (connect, send, close) and
// by its waiting thread: the wait thread, or a thread of a derived class that waits on the
// socket itself (start_waiting, wait_enter). Flags and handles are atomics; the poller and
// receive buffer belong to the waiting thread while it waits, and m_control guards the
// poller's changes by others. The socket's handle is closed only where no thread can still use
// it: users (sends, a connect) are counted at a gate, and the waiting thread never closes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "net/epoll_set.h"
#include "net/socket_event.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "tools/critical_lock.h"
#include "tools/wake_signal.h"

class socket_client {
public:
    static constexpr int receive_buffer_size = 8192;
    // How long connect waits for a server that does not answer; the system's own retries
    // would take minutes.
    static constexpr long connect_timeout_ms = 3000;

    // Any thread. Unconnected; acquires the sockets start-up counter.
    socket_client();
    // Any thread but the wait thread, after close(). Waits for a wait thread that ended on
    // a remote disconnect and closes the connection it left; releases the sockets start-up
    // counter.
    virtual ~socket_client();
    socket_client(const socket_client&) = delete;
    socket_client& operator=(const socket_client&) = delete;

    // Any thread.
    virtual bool is_connected();

    // An owner thread, not the wait thread, while no connection is open. Opens the
    // connection (giving up after connect_timeout_ms), bounds how long it may go unanswered
    // (net/dead_peer_bound.h; a refusal is logged, not fatal) and starts the wait thread, which
    // fires EVENT_CONNECT as its first act. False, with the socket invalid and no event,
    // when any step fails.
    bool connect(const std::string& server_ip, unsigned short server_port,
                 socket_event_callback callback, void* user);
    // Any thread. Stops the wait thread (waiting until it has ended unless called on it)
    // and, when connected, fires EVENT_LOCALE_DISCONNECT on the calling thread. Always true.
    bool close();
    // Any thread, while the object lives. One send call; fires EVENT_SEND with its result on
    // the calling thread and returns it. -1, with no event, when there is no socket.
    int send(const char* data, int length);
    // Any thread.
    platform::socket_t get_socket() const { return m_socket.load(); }

protected:
    // The closing thread, once the waiting thread has stopped waiting or on that thread
    // itself. Waits for sends in flight before the handle goes.
    virtual bool close_socket();
    // The waiting thread.
    virtual bool on_error();
    virtual bool on_connect();
    // The waiting thread (remote) or the closing thread (local). Fires at most one
    // disconnect per connection.
    virtual bool on_disconnect(bool local);
    virtual bool on_read();
    virtual bool on_write();

    // Any thread. False when no callback is set; the callback's result is ignored.
    bool fire_event(std::uint32_t type, std::int32_t error, const char* data, std::uint32_t length,
                    platform::socket_t socket);
    // Any thread. Writes the text as it stands to standard output.
    void log_text(const std::string& text);

    // Under m_control, from connect once the socket is up and watched: starts the waiting on
    // it. Here the wait thread, which runs wait_enter(true), wait_round until it returns false,
    // and wait_leave; a derived class may run them on a thread of its own instead. False when
    // the waiting cannot start (connect then fails).
    virtual bool start_waiting();
    // The waiting thread. Marks it as the one that waits (so that a close from one of its
    // callbacks does not wait for itself); for a new connection (first) it also fires
    // EVENT_CONNECT, as its first act on that connection.
    void wait_enter(bool first);
    // The waiting thread. One wait on the socket and the waker, with no time-out, and what it
    // found: receives fire EVENT_RECV, a lost connection EVENT_REMOTE_DISCONNECT. False once
    // the connection has ended or a stop was asked.
    bool wait_round();
    // The waiting thread, when it stops waiting, for now or for good: a lost connection is shut
    // down (the handle stays open for close_socket), and the thread is no longer the waiting one.
    void wait_leave();
    // The waiting thread, with no connection to wait on: blocks until the waker is notified.
    // False at once when there is no waker, which nothing could end.
    bool wait_for_wake();
    // Any thread: the current (or next) wait of the waiting thread returns, having found
    // nothing unless something else happened.
    void wake_waiting();
    // The waiting thread (or the owner before connecting): where receives go from now on
    // instead of the fixed receive buffer, so that a derived class can receive straight into
    // a buffer it then hands on; null returns to the fixed buffer. Room for
    // receive_buffer_size bytes is needed there; a receive never takes more.
    void set_receive_target(char* target);

private:
    static constexpr unsigned wait_error_kinds = 5;
    // Failed waits per kind, for one connection's waiting.
    struct wait_errors {
        std::uint32_t counts[wait_error_kinds] = {};
    };

    bool fail_connect();
    // Watches s and starts the waiting (start_waiting), unless a close came first.
    bool start_wait_thread(platform::socket_t s);
    bool stop_wait_thread();
    bool on_wait_thread() const;
    static void _th_socket_wait(void* self);
    // False when the entry ended the connection.
    bool handle_ready(const epoll_event& entry);
    // The waiting thread: one receive, fired as EVENT_RECV; without_wait takes only what has
    // already arrived. The bytes received, 0 when there were none yet, or receive_ended
    // when the connection is gone (a failure is logged).
    static constexpr int receive_ended = -1;
    int receive(bool without_wait);
    // The waiting thread, after the connection was lost: no send takes the handle any more, and
    // the connection is shut down; the handle stays open for close_socket.
    void end_connection();
    void report_wait_error(int error);
    // The gate of the handle: enter_handle counts the caller as a user and returns the handle
    // (invalid when there is none); leave_handle, whatever it returned, ends the use.
    platform::socket_t enter_handle();
    void leave_handle();

    std::atomic<bool> m_connected;
    std::atomic<void*> m_user;
    std::atomic<socket_event_callback> m_callback;
    char m_receive_buffer[receive_buffer_size];
    // The handle sends and the waiting thread use; invalid once the connection is gone.
    std::atomic<platform::socket_t> m_socket;
    // The handle still open, which only close_socket closes.
    std::atomic<platform::socket_t> m_open;
    std::string m_server_ip;
    std::uint16_t m_server_port;
    epoll_set m_poller;
    std::atomic<bool> m_stop;
    // Ends the waiting thread's wait when close() asks it to stop (or a derived class wakes it).
    platform::socket_waker m_waker;
    // The thread waiting on the socket while it does (0 otherwise).
    std::atomic<std::uint32_t> m_wait_thread_id;
    // The wait thread, joined by whoever stops it first. m_control serialises its start and
    // join and the poller's changes outside the wait thread (a close may meet a connect).
    platform::thread_handle m_wait_thread;
    KESTRO::TOOLS::critical_lock m_control;
    // Threads using the handle outside the waiting thread (sends, a connect); close_socket
    // waits on m_users_gone until there are none.
    std::atomic<int> m_users;
    KESTRO::TOOLS::wake_signal m_users_gone;
    // The waiting thread's: where the next receive goes (null: m_receive_buffer), whether the
    // last one filled it, whether the connection has ended, and the failed waits so far.
    char* m_receive_target;
    bool m_received_full;
    bool m_ended;
    wait_errors m_wait_errors;
};
