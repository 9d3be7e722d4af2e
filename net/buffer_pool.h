// Internal. buffer_pool: keeps up to `capacity` stream buffers of 2048 bytes for reuse, so
// that received data travel from the socket to the receive queue without allocating. Safe
// from any thread: every operation holds m_lock for its own duration. It owns the buffers it
// holds (and deletes them when destroyed), not the ones it has handed out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/stream_buffer.h"
#include "tools/critical_lock.h"

class buffer_pool {
public:
    static constexpr std::size_t buffer_size = 2048;

    // Any thread.
    explicit buffer_pool(std::uint32_t capacity);
    ~buffer_pool();
    buffer_pool(const buffer_pool&) = delete;
    buffer_pool& operator=(const buffer_pool&) = delete;

    // Any thread. The buffer given back last, or a new one when the pool is empty; the
    // caller owns it until it puts it back.
    KESTRO::TOOLS::stream_buffer* get();
    // Any thread. Keeps the buffer, or deletes it when the pool is full.
    void put(KESTRO::TOOLS::stream_buffer* buffer);
    // Any thread. The number of buffers held.
    std::uint32_t size();

private:
    KESTRO::TOOLS::stream_buffer** m_buffers;
    KESTRO::TOOLS::critical_lock m_lock;
    std::uint32_t m_count;
    std::uint32_t m_capacity;
};
