// Internal. Sleeping and the high-resolution counter. Safe from any thread.
#pragma once

#include <cstdint>

namespace platform {

// Suspends the calling thread for the given number of milliseconds.
void sleep_ms(std::uint32_t milliseconds);

// A monotonic high-resolution counter and the number of its ticks per second.
std::int64_t perf_counter();
std::int64_t perf_frequency();

}  // namespace platform
