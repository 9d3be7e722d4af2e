#include "platform/thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <new>

namespace platform {

namespace {

struct start_record {
    thread_proc proc;
    void* argument;
    std::atomic<std::uint32_t> id{0};
};

void* start_routine(void* raw) {
    auto* record = static_cast<start_record*>(raw);
    thread_proc proc = record->proc;
    void* argument = record->argument;
    record->id.store(current_thread_id(), std::memory_order_release);
    // The creator reads the identifier and frees the record.
    proc(argument);
    return nullptr;
}

}  // namespace

bool thread_start(thread_proc proc, void* argument, thread_handle* handle, std::uint32_t* id) {
    auto* record = new (std::nothrow) start_record{proc, argument};
    if (record == nullptr) return false;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, start_routine, record) != 0) {
        delete record;
        return false;
    }
    // The identifier is the kernel's thread id, known only once the thread runs.
    std::uint32_t tid;
    while ((tid = record->id.load(std::memory_order_acquire)) == 0) {
        sched_yield();
    }
    delete record;
    if (id != nullptr) *id = tid;
    if (handle != nullptr) {
        static_assert(sizeof(pthread_t) <= sizeof(void*), "pthread_t does not fit");
        handle->native = reinterpret_cast<void*>(thread);
    } else {
        pthread_detach(thread);
    }
    return true;
}

void thread_join(thread_handle& handle) {
    if (handle.native == nullptr) return;
    pthread_join(reinterpret_cast<pthread_t>(handle.native), nullptr);
    handle.native = nullptr;
}

void thread_detach(thread_handle& handle) {
    if (handle.native == nullptr) return;
    pthread_detach(reinterpret_cast<pthread_t>(handle.native));
    handle.native = nullptr;
}

std::uint32_t current_thread_id() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

bool thread_block_count(std::uint32_t id, std::uint64_t* count) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%u/status", id);
    std::FILE* status = std::fopen(path, "r");
    if (status == nullptr) return false;
    bool found = false;
    char line[128];
    unsigned long long value = 0;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
        found = std::sscanf(line, "voluntary_ctxt_switches: %llu", &value) == 1;
    }
    std::fclose(status);
    if (found) *count = value;
    return found;
}

}  // namespace platform
