#include "bench/thread_cpu.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace thread_cpu {

std::vector<std::int64_t> list_threads() {
    std::vector<std::int64_t> tids;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return tids;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        tids.push_back(std::strtoll(entry->d_name, nullptr, 10));
    }
    closedir(dir);
    std::sort(tids.begin(), tids.end());
    return tids;
}

std::int64_t cpu_ns(std::int64_t tid) {
    // The kernel's CPU clock of one thread: the clock id glibc builds for
    // pthread_getcpuclockid, from the thread id instead of a pthread handle.
    const auto clock = static_cast<clockid_t>((~static_cast<clockid_t>(tid) << 3) | 6);
    timespec t{};
    if (clock_gettime(clock, &t) != 0) return 0;
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

std::int64_t cpu_ns(const std::vector<std::int64_t>& tids) {
    std::int64_t total = 0;
    for (std::int64_t tid : tids) total += cpu_ns(tid);
    return total;
}

std::vector<std::int64_t> added(const std::vector<std::int64_t>& before,
                                const std::vector<std::int64_t>& now) {
    std::vector<std::int64_t> result;
    for (std::int64_t tid : now) {
        if (std::find(before.begin(), before.end(), tid) == before.end()) result.push_back(tid);
    }
    return result;
}

std::int64_t own_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

}  // namespace thread_cpu
