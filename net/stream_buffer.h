// Internal. stream_buffer: a growable byte stream with a read and a write position; bytes
// are appended behind the write position and consumed from the read position. Safe from any
// thread: every operation holds m_lock for its own duration. It owns its heap block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/critical_lock.h"

namespace KESTRO {
namespace TOOLS {

class stream_buffer {
public:
    // Any thread. Takes a block of capacity bytes; capacity 0 if that fails.
    explicit stream_buffer(std::size_t capacity);
    ~stream_buffer();
    stream_buffer(const stream_buffer&) = delete;
    stream_buffer& operator=(const stream_buffer&) = delete;

    // Any thread. Appends n bytes: behind the write position if they fit there, else after
    // moving the unread bytes to the front, else into a new block of
    // max(2 x capacity, length + n) bytes. False, with nothing changed, when that block
    // cannot be had.
    bool append(const char* data, std::size_t n);
    // Any thread. Makes room for n bytes behind the write position, as append() would, and
    // returns where they go (null, with nothing changed, when no block can be had). The
    // caller writes there and then commits what it wrote; until then the stream is its own.
    char* reserve(std::size_t n);
    // Any thread. Moves the write position on by n bytes written at reserve()'s pointer.
    void commit(std::size_t n);
    // Any thread. clear(), then append().
    bool assign(const char* data, std::size_t n);
    // Any thread. The first unread byte; valid until the next append or assign.
    const char* data();
    // Any thread. The number of unread bytes.
    std::size_t length();
    // Any thread. Drops n bytes from the front; reaching (or passing) the end empties the
    // stream with both positions back at 0. Always true.
    bool consume(std::size_t n);
    // Any thread. Empties the stream; the block is kept.
    void clear();

    // Any thread. The positions and the block size, for tests and diagnostics.
    std::uint64_t read_position();
    std::uint64_t write_position();
    std::uint64_t capacity();

private:
    // Under m_lock: room for n bytes behind the write position, moving the unread bytes to
    // the front or into a new block of max(2 x capacity, length + n) bytes as needed.
    char* make_room(std::size_t n);

    critical_lock m_lock;
    char* m_buffer;
    std::uint64_t m_read;
    std::uint64_t m_write;
    std::uint64_t m_capacity;
};

}  // namespace TOOLS
}  // namespace KESTRO
