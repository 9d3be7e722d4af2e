// Benchmark support, not part of the library. Counts heap allocations per thread by standing
// in for the C allocator of the whole process: every malloc, calloc, realloc and aligned
// allocation, and so every operator new, of the program and of the shared libraries it loads
// passes through here. Safe from any thread; counting itself never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace alloc_counter {

// Calls from the calling thread are not counted from now on (the driver's own threads).
void exclude_this_thread();

// One thread's allocations since the program started.
struct thread_count {
    std::int64_t tid;
    std::uint64_t allocations;
};

// Every thread that has allocated while counted, with its count so far. Call from an
// excluded thread: the result is a vector.
std::vector<thread_count> snapshot();

// The total of `snapshot` for the given threads, without allocating.
std::uint64_t total_for(const std::int64_t* tids, std::size_t count);

// Allocations of the given threads by size class: entry k counts requests of 2^(k-1) + 1 to
// 2^k bytes (entry 0: 0 or 1 byte). Call from an excluded thread.
constexpr std::size_t size_classes = 40;
std::vector<std::uint64_t> by_size(const std::vector<std::int64_t>& tids);

// The kernel's id of the calling thread.
std::int64_t current_tid();

}  // namespace alloc_counter
