// Internal. data_queue: a first-in first-out queue of stream buffers between the socket's
// wait thread (producer) and the receive thread (consumer). Safe from any thread: every
// operation holds m_lock for its own duration. It holds the pointers, not the buffers.
#pragma once

#include <cstddef>
#include <vector>

#include "net/stream_buffer.h"
#include "tools/critical_lock.h"

class data_queue {
public:
    // Any thread.
    data_queue();
    data_queue(const data_queue&) = delete;
    data_queue& operator=(const data_queue&) = delete;

    // Any thread.
    bool empty();
    std::size_t size();
    // Any thread. Appends at the back; the ring grows when full, so a steady flow
    // allocates nothing.
    void push_back(KESTRO::TOOLS::stream_buffer* buffer);
    // Any thread. The first buffer; throws bad_str_key("data queue empty ") when empty.
    KESTRO::TOOLS::stream_buffer* front();
    // Any thread. Removes the first buffer; does nothing when empty.
    void pop_front();
    // Any thread. Removes and returns the first buffer (null when empty) and stores how many
    // are left in *left: one operation where empty, front and pop_front would take three.
    KESTRO::TOOLS::stream_buffer* take_front(std::size_t* left);

private:
    void grow();

    KESTRO::TOOLS::critical_lock m_lock;
    std::vector<KESTRO::TOOLS::stream_buffer*> m_ring;
    std::size_t m_head;
    std::size_t m_count;
};
