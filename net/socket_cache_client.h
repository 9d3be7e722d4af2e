// Internal. socket_cache_client: the TCP connection the quote client owns. The socket's wait
// thread receives into pooled buffers and queues them; a receive thread of its own hands the
// bytes to the owner as one stream, from which the owner consumes whole messages.
// Entered by the owner's threads (connect, send, close), the wait thread (producer of the
// receive queue, which wakes the receive thread) and the receive thread (its consumer and the
// only user of the stream). The queue, the pool and the stream each have their own lock, held
// inside one operation only; a wait thread held back by a full queue waits on m_room.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "net/buffer_pool.h"
#include "net/data_queue.h"
#include "net/kestro_socket_thread.h"
#include "net/socket_client.h"
#include "net/socket_event.h"
#include "net/stream_buffer.h"
#include "tools/wake_signal.h"

class socket_cache_client : public socket_client {
public:
    static constexpr std::uint32_t pool_capacity = 512;
    // The receive thread's longest sleep: a queued receive wakes it at once.
    static constexpr unsigned int receive_interval_us = 1100;
    // Buffers waiting for the receive thread, or in its hands, before the wait thread stops
    // reading. One less than the pool's capacity, leaving room for the one the wait thread
    // fills next (it takes it only once there is room): no more buffers are ever out than the
    // pool keeps. Counting the one in the receive thread's hands makes the most ever out the
    // same whether the owner is slow (it holds none while it handles a message) or quick, so
    // once a connection has made them every later receive finds one and nothing is allocated.
    static constexpr std::size_t max_queued_receives = pool_capacity - 1;
    // Once held back, the wait thread reads again when the queue is down to this: one wake
    // per half a queue, not one per buffer the receive thread frees.
    static constexpr std::size_t resume_queued_receives = max_queued_receives / 2;

    // Any thread. Unconnected; the receive thread is made but not started.
    explicit socket_cache_client(unsigned int receive_stream_capacity);
    // Any thread but the wait and receive threads, after close(): stops the receive thread
    // and drops what is queued.
    ~socket_cache_client() override;

    // An owner thread, while no connection is open. Starts the receive thread, then opens
    // the connection; callback gets EVENT_CONNECT and EVENT_REMOTE_DISCONNECT on the wait
    // thread, EVENT_RECV on the receive thread, EVENT_SEND on the sender's thread and
    // EVENT_LOCALE_DISCONNECT on the closing thread.
    bool connect(const std::string& server_ip, unsigned short server_port,
                 socket_event_callback callback, void* user);
    // Any thread. One send call: the bytes taken, or -1 without a connection.
    int send(const char* data, int length);
    // Any thread. Stops the receive thread, closes the connection (EVENT_LOCALE_DISCONNECT
    // when it was open) and drops unconsumed bytes. Called on the wait or the receive thread
    // it does not wait for that thread itself. Always true.
    bool close();

    // The wait thread (and the sending and closing threads): the callback handed to the
    // socket, with this object as user. Returns 0.
    static int on_socket_event(socket_event* event, void* user);
    // The receive thread: hands every queued byte to the owner. Returns 0.
    static std::int32_t receive_task(void* self);

    // Any thread: receives queued for the receive thread.
    std::size_t queued_receives() { return m_receive_queue.size(); }

private:
    // Owner threads, once the receive thread is stopped.
    void clear_queues();
    // The wait thread: waits while the queue is full, until the receive thread makes room or
    // a close begins.
    void wait_for_room();
    // Any thread: a close has begun; a held-back wait thread goes on.
    void begin_close();
    // The wait thread: queues the pooled buffer just received into, wakes the receive
    // thread, and takes the next buffer once there is room.
    void queue_received(const char* data, std::size_t length);
    // The wait thread: makes a pooled buffer the socket's receive target.
    void take_receive_target();
    // The receive thread: offers the stream to the owner until it is empty or the owner
    // leaves the rest for later.
    void offer_stream();

    std::atomic<void*> m_owner_user;
    std::atomic<socket_event_callback> m_owner_callback;
    KESTRO::TOOLS::stream_buffer m_receive_stream;
    data_queue m_receive_queue;
    buffer_pool m_pool;
    std::unique_ptr<kestro_socket_thread> m_receive_thread;
    std::atomic<bool> m_closing;
    // The receive thread holds a buffer it has taken off the queue and not yet given back.
    std::atomic<std::uint32_t> m_in_hand{0};
    KESTRO::TOOLS::wake_signal m_room;
    // The wait thread's: the pooled buffer the socket receives into (kept between
    // connections), and where in it (null when it could not grow to a receive's size).
    KESTRO::TOOLS::stream_buffer* m_filling;
    char* m_target;
};
