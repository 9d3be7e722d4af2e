// Internal to the recorder and the tests. The bounded hand-over between the library's receive
// thread, which must never wait for a disk, and the thread that writes the capture.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "capture/capture_file.h"

namespace capture {

// Records go in on any thread (push never waits for the writer: a full queue counts the record
// as dropped) and come out in order on one writer thread, all at once, by swapping buffers, so
// that neither side allocates once both buffers have their capacity. m_lock guards the pending
// records and the two flags; it is held for one copy or one swap, never across a write.
class capture_queue {
public:
    explicit capture_queue(std::size_t capacity);

    // Any thread. False, and one more dropped, when `capacity` records are already waiting
    // or the queue is closed.
    bool push(const capture_record& record);

    // The writer thread. Waits until records wait, the queue is closed or wake() was called,
    // then swaps them all into `out` (whose old contents go; it may stay empty after a wake).
    // False once the queue is closed and empty.
    bool take_all(std::vector<capture_record>& out);

    // Any thread: a waiting take_all returns now, even with nothing to take, so that its thread
    // can do other work (a taker that also sends events, say).
    void wake();

    // Any thread: no more records are taken; a waiting writer wakes and finishes what is left.
    void close();

    std::uint64_t dropped() const { return m_dropped.load(); }
    std::size_t capacity() const { return m_capacity; }

private:
    const std::size_t m_capacity;
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::vector<capture_record> m_pending;
    bool m_closed = false;
    bool m_woken = false;
    std::atomic<std::uint64_t> m_dropped{0};
};

}  // namespace capture
