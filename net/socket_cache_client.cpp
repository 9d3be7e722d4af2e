#include "net/socket_cache_client.h"

#include <algorithm>
#include <chrono>

#include "tools/str_utils.h"

using KESTRO::TOOLS::stream_buffer;

socket_cache_client::socket_cache_client(unsigned int receive_stream_capacity)
    : m_owner_user(nullptr),
      m_owner_callback(nullptr),
      m_receive_stream(receive_stream_capacity),
      m_pool(pool_capacity),
      m_receive_thread(new kestro_socket_thread()),
      m_closing(false),
      m_filling(nullptr),
      m_target(nullptr) {
    m_receive_thread->set_task(&receive_task, this, true);
    m_receive_thread->set_interval(receive_interval_us);
}

socket_cache_client::~socket_cache_client() {
    begin_close();
    m_receive_thread->stop();
    m_receive_thread.reset();
    clear_queues();
    // The socket receives no more (close() came first): its target goes back to the pool.
    set_receive_target(nullptr);
    if (m_filling != nullptr) m_pool.put(m_filling);
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
    // disconnect event; what arrives meanwhile is dropped with the queues.
    begin_close();
    m_receive_thread->stop();
    const bool result = socket_client::close();
    clear_queues();
    return result;
}

int socket_cache_client::on_socket_event(socket_event* event, void* user) {
    auto* client = static_cast<socket_cache_client*>(user);
    if (client == nullptr || event == nullptr) return 0;
    if (event->type() == EVENT_RECV) {
        client->queue_received(event->data(), event->length());
        return 0;
    }
    // The wait thread's first act: the first receive goes straight into a pooled buffer.
    if (event->type() == EVENT_CONNECT) client->take_receive_target();
    const socket_event_callback callback = client->m_owner_callback.load();
    if (callback != nullptr) callback(event, client->m_owner_user.load());
    return 0;
}

std::int32_t socket_cache_client::receive_task(void* self) {
    auto* client = static_cast<socket_cache_client*>(self);
    if (client == nullptr) return 0;
    for (;;) {
        // A server that sends faster than the owner consumes keeps the queue from ever
        // emptying: a stop or pause request ends the run between buffers, or close() would
        // wait for as long as the server keeps sending. What is left goes with the queues.
        const std::uint32_t state = client->m_receive_thread->get_state();
        if (state == kestro_socket_thread::STATE_STOP_REQUESTED ||
            state == kestro_socket_thread::STATE_PAUSE_REQUESTED) {
            break;
        }
        std::size_t left = 0;
        client->m_in_hand.store(1);
        stream_buffer* buffer = client->m_receive_queue.take_front(&left);
        if (buffer == nullptr) {
            client->m_in_hand.store(0);
            break;
        }
        // Only this thread empties the queue, one buffer at a time: a held-back wait thread
        // waits for the pop that brings it below the resume mark.
        if (left + 1 == resume_queued_receives) client->m_room.notify();
        client->m_receive_stream.append(buffer->data(), buffer->length());
        client->m_pool.put(buffer);
        client->m_in_hand.store(0);
        client->offer_stream();
    }
    return 0;
}

void socket_cache_client::queue_received(const char* data, std::size_t length) {
    // The bytes are in the pooled buffer already: it is handed on as it is, and the receive
    // thread told at once. Only when that buffer could not grow to a receive's size did they
    // go to the socket's own buffer, and are copied.
    stream_buffer* buffer = m_filling;
    m_filling = nullptr;
    if (m_target != nullptr) {
        buffer->commit(length);
    } else {
        buffer->assign(data, length);
    }
    m_receive_queue.push_back(buffer);
    m_receive_thread->wake();
    // Waiting here, before the next buffer is taken, keeps the buffers out (queued, being
    // read, being filled) at the pool's capacity at most, so a flood never makes new ones.
    wait_for_room();
    take_receive_target();
}

void socket_cache_client::take_receive_target() {
    if (m_filling == nullptr) m_filling = m_pool.get();
    m_filling->clear();
    m_target = m_filling->reserve(receive_buffer_size);
    set_receive_target(m_target);
}

void socket_cache_client::wait_for_room() {
    // Back-pressure: while the owner lags far behind, the wait thread stops reading, so that
    // TCP holds the server back instead of the queue growing without bound.
    // The hand is looked at first: a buffer taken off the queue meanwhile is then counted
    // once, or the queue's shrinking shows that it has been given back.
    const std::uint32_t in_hand = m_in_hand.load();
    if (in_hand + m_receive_queue.size() < max_queued_receives) return;
    const auto room = [this] {
        return m_receive_queue.size() < resume_queued_receives || m_closing.load();
    };
    while (!m_room.wait_for(std::chrono::seconds(1), room)) {
    }
}

void socket_cache_client::begin_close() {
    m_closing.store(true);
    m_room.notify();
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
    while (stream_buffer* buffer = m_receive_queue.take_front(nullptr)) m_pool.put(buffer);
    m_receive_stream.clear();
}
