// Internal. socket_cache_client: the TCP connection the quote client owns. A receive thread of
// its own waits on the socket and its waker with no time-out, receives straight into the
// receive stream and hands the bytes to the owner at once, on the same thread, as one stream
// from which the owner consumes whole messages: one wake-up per arrival, no copy but the
// system's, and nothing at all while the connection is quiet.
// Entered by the owner's threads (connect, send, close) and the receive thread, the socket's
// waiting thread: it fires EVENT_CONNECT, EVENT_RECV and EVENT_REMOTE_DISCONNECT and is the
// only user of the stream while it runs. A slow owner holds it, so the socket is not read
// meanwhile and TCP holds the server back: nothing queues on the way.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "net/kestro_socket_thread.h"
#include "net/socket_client.h"
#include "net/socket_event.h"
#include "net/stream_buffer.h"

class socket_cache_client : public socket_client {
public:
    // Any thread. Unconnected; the receive thread is made but not started.
    explicit socket_cache_client(unsigned int receive_stream_capacity);
    // Any thread but the receive thread, after close(): stops the receive thread and drops
    // unconsumed bytes.
    ~socket_cache_client() override;

    // An owner thread, while no connection is open. Starts the receive thread, then opens
    // the connection; callback gets EVENT_CONNECT, EVENT_RECV and EVENT_REMOTE_DISCONNECT on
    // the receive thread, EVENT_SEND on the sender's thread and EVENT_LOCALE_DISCONNECT on
    // the closing thread.
    bool connect(const std::string& server_ip, unsigned short server_port,
                 socket_event_callback callback, void* user);
    // Any thread. One send call: the bytes taken, or -1 without a connection.
    int send(const char* data, int length);
    // Any thread. Stops the receive thread, closes the connection (EVENT_LOCALE_DISCONNECT
    // when it was open) and drops unconsumed bytes. Called on the receive thread it does not
    // wait for that thread itself. Always true.
    bool close();

    // The receive thread (and the sending and closing threads): the callback handed to the
    // socket, with this object as user. Returns 0.
    static int on_socket_event(socket_event* event, void* user);
    // The receive thread: waits on the connection and delivers what arrives until a pause or
    // stop is asked. Returns 0.
    static std::int32_t receive_task(void* self);

    // Any thread: the receive thread. A controller may pause it (the socket is then not read,
    // and TCP holds the server back) and resume it with start().
    kestro_socket_thread& receive_thread() { return *m_receive_thread; }

protected:
    // Under the socket's control lock, from connect: hands the new connection to the receive
    // thread and wakes it.
    bool start_waiting() override;

private:
    // The receive thread's one run: see receive_task.
    void receive_until_asked();
    bool receive_thread_running() const;
    // The waker of the receive thread: a pause or stop request ends its wait at once.
    static void wake_receive_thread(void* self);
    // Owner threads, once the receive thread is stopped.
    void clear_queues();
    // The receive thread: bytes have arrived (in the stream, or at data when it had no room).
    void on_received(const char* data, std::size_t length);
    // The receive thread: makes room in the stream for the next receive.
    void take_receive_target();
    // The receive thread: offers the stream to the owner until it is empty or the owner
    // leaves the rest for later.
    void offer_stream();

    std::atomic<void*> m_owner_user;
    std::atomic<socket_event_callback> m_owner_callback;
    KESTRO::TOOLS::stream_buffer m_receive_stream;
    std::unique_ptr<kestro_socket_thread> m_receive_thread;
    std::atomic<bool> m_closing;
    // A connection is up that the receive thread has not begun to wait on yet.
    std::atomic<bool> m_new_connection;
    // The receive thread's: it waits on a connection (from its EVENT_CONNECT to its end), and
    // where in the stream the next receive goes (null when the stream had no room).
    bool m_waiting;
    char* m_target;
};
