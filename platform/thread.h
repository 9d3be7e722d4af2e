// Internal. Starting threads and naming the current one. Safe from any thread.
#pragma once

#include <cstdint>

namespace platform {

using thread_proc = void (*)(void* argument);

// Handle of a thread that was started joinable; empty when none.
struct thread_handle {
    void* native = nullptr;
};

// Starts proc(argument) on a new thread. With a null handle the thread is detached at
// once; otherwise the caller must join or detach it. Stores the new thread's identifier
// in *id when id is not null. Returns false when the thread could not be created.
bool thread_start(thread_proc proc, void* argument, thread_handle* handle, std::uint32_t* id);

// Waits for a joinable thread to end and releases its handle. Never call it on the
// thread itself.
void thread_join(thread_handle& handle);

// Releases a joinable thread's handle without waiting.
void thread_detach(thread_handle& handle);

// Identifier of the calling thread (never 0).
std::uint32_t current_thread_id();

// How often the thread with identifier `id` (of this process) has blocked so far: the
// system's count of its voluntary context switches, each a wait that put it to sleep. False
// where the system does not keep one per thread that a process can read (Windows).
bool thread_block_count(std::uint32_t id, std::uint64_t* count);

}  // namespace platform
