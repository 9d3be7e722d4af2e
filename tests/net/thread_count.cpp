#include "thread_count.h"

#include <filesystem>
#include <future>
#include <system_error>
#include <thread>

int process_thread_count() {
    std::error_code error;
    std::filesystem::directory_iterator it("/proc/self/task", error);
    if (error) return -1;
    int count = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) return -1;
        ++count;
    }
    return count;
}

bool thread_count_is_meaningful() {
    const int before = process_thread_count();
    if (before < 0) return false;
    std::promise<void> release;
    std::promise<void> started;
    std::thread extra([&] {
        started.set_value();
        release.get_future().wait();
    });
    started.get_future().wait();
    const int during = process_thread_count();
    release.set_value();
    extra.join();
    return during > before;
}
