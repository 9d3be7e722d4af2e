#include "platform/thread.h"

#include <windows.h>

#include <new>

namespace platform {

namespace {

struct start_record {
    thread_proc proc;
    void* argument;
};

DWORD WINAPI start_routine(LPVOID raw) {
    auto* record = static_cast<start_record*>(raw);
    thread_proc proc = record->proc;
    void* argument = record->argument;
    delete record;
    proc(argument);
    return 0;
}

}  // namespace

bool thread_start(thread_proc proc, void* argument, thread_handle* handle, std::uint32_t* id) {
    auto* record = new (std::nothrow) start_record{proc, argument};
    if (record == nullptr) return false;
    DWORD thread_id = 0;
    HANDLE thread = CreateThread(nullptr, 0, start_routine, record, 0, &thread_id);
    if (thread == nullptr) {
        delete record;
        return false;
    }
    if (id != nullptr) *id = thread_id;
    if (handle != nullptr) {
        handle->native = thread;
    } else {
        CloseHandle(thread);
    }
    return true;
}

void thread_join(thread_handle& handle) {
    if (handle.native == nullptr) return;
    WaitForSingleObject(static_cast<HANDLE>(handle.native), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle.native));
    handle.native = nullptr;
}

void thread_detach(thread_handle& handle) {
    if (handle.native == nullptr) return;
    CloseHandle(static_cast<HANDLE>(handle.native));
    handle.native = nullptr;
}

std::uint32_t current_thread_id() { return GetCurrentThreadId(); }

bool thread_block_count(std::uint32_t, std::uint64_t*) {
    return false;
}

}  // namespace platform
