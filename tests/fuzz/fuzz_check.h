// Shared by the fuzz targets: a check that stops the run with a readable reason, so that
// libFuzzer records the input as a crash and prints the stack.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void fuzz_check(bool holds, const char* condition, const char* file, int line) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
    std::abort();
}

#define FUZZ_CHECK(condition) fuzz_check((condition), #condition, __FILE__, __LINE__)
