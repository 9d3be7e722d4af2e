#include "bench/alloc_counter.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

// glibc's own entry points; defining malloc and friends here makes every caller in the
// process come through this file first.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

constexpr std::size_t max_threads = 256;

struct slot {
    std::atomic<std::int64_t> tid{0};
    std::atomic<std::uint64_t> allocations{0};
    std::atomic<std::uint64_t> sizes[alloc_counter::size_classes] = {};
};

std::size_t size_class(std::size_t size) {
    std::size_t k = 0;
    while (k + 1 < alloc_counter::size_classes && (std::size_t{1} << k) < size) ++k;
    return k;
}

slot g_slots[max_threads];
std::atomic<std::size_t> g_used{0};

// Plain thread-locals of trivial types live in static TLS: reading them never allocates.
thread_local bool t_excluded = false;
thread_local slot* t_slot = nullptr;

void count_one(std::size_t size) {
    if (t_excluded) return;
    if (t_slot == nullptr) {
        const std::size_t index = g_used.fetch_add(1);
        if (index >= max_threads) {
            t_excluded = true;  // more threads than slots: the rest go uncounted
            return;
        }
        t_slot = &g_slots[index];
        t_slot->tid.store(alloc_counter::current_tid());
    }
    t_slot->allocations.fetch_add(1, std::memory_order_relaxed);
    t_slot->sizes[size_class(size)].fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) {
    count_one(size);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    count_one(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* block, std::size_t size) {
    count_one(size);
    return __libc_realloc(block, size);
}

void free(void* block) {
    __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) {
    count_one(size);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    count_one(size);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    count_one(size);
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr) return ENOMEM;
    *out = block;
    return 0;
}

}  // extern "C"

namespace alloc_counter {

void exclude_this_thread() {
    t_excluded = true;
}

std::int64_t current_tid() {
    return static_cast<std::int64_t>(syscall(SYS_gettid));
}

std::vector<thread_count> snapshot() {
    std::vector<thread_count> result;
    const std::size_t used = g_used.load() < max_threads ? g_used.load() : max_threads;
    for (std::size_t i = 0; i < used; ++i) {
        result.push_back({g_slots[i].tid.load(), g_slots[i].allocations.load()});
    }
    return result;
}

std::uint64_t total_for(const std::int64_t* tids, std::size_t count) {
    std::uint64_t total = 0;
    const std::size_t used = g_used.load() < max_threads ? g_used.load() : max_threads;
    for (std::size_t i = 0; i < used; ++i) {
        const std::int64_t tid = g_slots[i].tid.load();
        for (std::size_t k = 0; k < count; ++k) {
            if (tids[k] == tid) total += g_slots[i].allocations.load(std::memory_order_relaxed);
        }
    }
    return total;
}

std::vector<std::uint64_t> by_size(const std::vector<std::int64_t>& tids) {
    std::vector<std::uint64_t> result(size_classes, 0);
    const std::size_t used = g_used.load() < max_threads ? g_used.load() : max_threads;
    for (std::size_t i = 0; i < used; ++i) {
        const std::int64_t tid = g_slots[i].tid.load();
        for (std::int64_t wanted : tids) {
            if (wanted != tid) continue;
            for (std::size_t k = 0; k < size_classes; ++k) result[k] += g_slots[i].sizes[k].load();
        }
    }
    return result;
}

}  // namespace alloc_counter
