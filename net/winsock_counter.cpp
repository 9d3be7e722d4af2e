#include "net/winsock_counter.h"

#include <atomic>

#include "platform/socket.h"

namespace {
std::atomic<int> g_winsock_count{0};
}  // namespace

void winsock_acquire() {
    if (g_winsock_count.fetch_add(1) + 1 <= 1) platform::sockets_startup();
}

void winsock_release() {
    // One release too many leaves the count at 0 rather than letting it go negative, so
    // that the next acquire starts the library again.
    int now = g_winsock_count.load();
    int next;
    do {
        next = now > 0 ? now - 1 : 0;
    } while (!g_winsock_count.compare_exchange_weak(now, next));
    if (next <= 0) platform::sockets_cleanup();
}

int winsock_count() {
    return g_winsock_count.load();
}
