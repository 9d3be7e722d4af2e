#include "platform/clock.h"

#include <windows.h>

namespace platform {

void sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }

std::int64_t perf_counter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::int64_t perf_frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

}  // namespace platform
