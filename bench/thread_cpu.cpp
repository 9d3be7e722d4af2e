#include "bench/thread_cpu.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
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

std::vector<std::int64_t> cpu_ns_each(const std::vector<std::int64_t>& tids) {
    std::vector<std::int64_t> times;
    for (std::int64_t tid : tids) times.push_back(cpu_ns(tid));
    return times;
}

std::vector<std::int64_t> sleeps_each(const std::vector<std::int64_t>& tids) {
    std::vector<std::int64_t> counts;
    for (std::int64_t tid : tids) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%lld/status",
                      static_cast<long long>(tid));
        long long count = 0;
        if (std::FILE* status = std::fopen(path, "r")) {
            char line[128];
            while (std::fgets(line, sizeof line, status) != nullptr) {
                if (std::sscanf(line, "voluntary_ctxt_switches: %lld", &count) == 1) break;
            }
            std::fclose(status);
        }
        counts.push_back(count);
    }
    return counts;
}

std::vector<std::int64_t> added(const std::vector<std::int64_t>& before,
                                const std::vector<std::int64_t>& now) {
    std::vector<std::int64_t> result;
    for (std::int64_t tid : now) {
        if (std::find(before.begin(), before.end(), tid) == before.end()) result.push_back(tid);
    }
    return result;
}

}  // namespace thread_cpu
