// Benchmark support, not part of the library. The threads of this process, the CPU time each
// has used (the kernel's per-thread CPU clocks, nanoseconds) and how often each has blocked,
// so that the cost of threads the library made can be told apart from the driver's own.
// Safe from any thread; the functions allocate, so call them from an uncounted thread.
#pragma once

#include <cstdint>
#include <vector>

namespace thread_cpu {

// The ids of every thread of this process, as they are now.
std::vector<std::int64_t> list_threads();

// CPU time of one thread of this process in nanoseconds; 0 when it has ended.
std::int64_t cpu_ns(std::int64_t tid);

// cpu_ns of each thread, in the order of the list.
std::vector<std::int64_t> cpu_ns_each(const std::vector<std::int64_t>& tids);

// How often each thread has blocked so far (the kernel's count of voluntary context switches:
// every wait that put the thread to sleep), in the order of the list; 0 for an ended thread.
std::vector<std::int64_t> sleeps_each(const std::vector<std::int64_t>& tids);

// The ids in `now` that are not in `before`.
std::vector<std::int64_t> added(const std::vector<std::int64_t>& before,
                                const std::vector<std::int64_t>& now);

}  // namespace thread_cpu
