#include "net/socket_cache_client.h"

#include "tools/str_utils.h"

using KESTRO::TOOLS::stream_buffer;

socket_cache_client::socket_cache_client(unsigned int receive_stream_capacity)
    : m_owner_user(nullptr),
      m_owner_callback(nullptr),
      m_receive_stream(receive_stream_capacity),
      m_pool(pool_capacity),
      m_receive_thread(new kestro_socket_thread()) {
    m_receive_thread->set_task(&receive_task, this, true);
    m_receive_thread->set_interval(receive_interval_us);
}

socket_cache_client::~socket_cache_client() {
    m_receive_thread->stop();
    m_receive_thread.reset();
    clear_queues();
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
    return socket_client::connect(server_ip, server_port, &on_socket_event, this);
}

int socket_cache_client::send(const char* data, int length) {
    return socket_client::send(data, length);
}

bool socket_cache_client::close() {
    // The receive thread goes first, so that nothing is offered to the owner after its
    // disconnect event; what arrives meanwhile is dropped with the queues.
    m_receive_thread->stop();
    const bool result = socket_client::close();
    clear_queues();
    return result;
}

int socket_cache_client::on_socket_event(socket_event* event, void* user) {
    auto* client = static_cast<socket_cache_client*>(user);
    if (client == nullptr || event == nullptr) return 0;
    if (event->type() == EVENT_RECV) {
        // Back-pressure: while the owner lags far behind, the wait thread stops reading, so
        // that TCP holds the server back instead of the queue growing without bound. A stop
        // of the receive thread (close) ends the wait.
        while (client->m_receive_queue.size() >= max_queued_receives &&
               client->m_receive_thread->get_state() == kestro_socket_thread::STATE_RUNNING) {
            KESTRO::TOOLS::sleep_ms(1);
        }
        // One copy, so that the wait thread goes straight back to the socket.
        stream_buffer* buffer = client->m_pool.get();
        buffer->assign(event->data(), event->length());
        client->m_receive_queue.push_back(buffer);
        return 0;
    }
    const socket_event_callback callback = client->m_owner_callback.load();
    if (callback != nullptr) callback(event, client->m_owner_user.load());
    return 0;
}

std::int32_t socket_cache_client::receive_task(void* self) {
    auto* client = static_cast<socket_cache_client*>(self);
    if (client == nullptr) return 0;
    while (!client->m_receive_queue.empty()) {
        // A server that sends faster than the owner consumes keeps the queue from ever
        // emptying: a stop or pause request ends the run between buffers, or close() would
        // wait for as long as the server keeps sending. What is left goes with the queues.
        const std::uint32_t state = client->m_receive_thread->get_state();
        if (state == kestro_socket_thread::STATE_STOP_REQUESTED ||
            state == kestro_socket_thread::STATE_PAUSE_REQUESTED) {
            break;
        }
        stream_buffer* buffer = client->m_receive_queue.front();
        client->m_receive_stream.append(buffer->data(), buffer->length());
        client->m_receive_queue.pop_front();
        client->m_pool.put(buffer);
        client->offer_stream();
    }
    return 0;
}

void socket_cache_client::offer_stream() {
    const socket_event_callback callback = m_owner_callback.load();
    if (callback == nullptr) return;
    // Unconsumed bytes stay in front and are shown again with the next delivery; consumed
    // ones make room for an immediate offer of what follows them.
    for (;;) {
        const std::size_t length = m_receive_stream.length();
        if (length == 0) return;
        socket_event record;
        record.set_type(EVENT_RECV);
        record.set_error(0);
        record.set_data(m_receive_stream.data(), static_cast<std::uint32_t>(length));
        callback(&record, m_owner_user.load());
        const std::int32_t processed = record.processed();
        if (processed <= 0) return;
        m_receive_stream.consume(static_cast<std::size_t>(processed));
    }
}

void socket_cache_client::clear_queues() {
    while (!m_receive_queue.empty()) {
        stream_buffer* buffer = m_receive_queue.front();
        m_receive_queue.pop_front();
        m_pool.put(buffer);
    }
    m_receive_stream.clear();
}
