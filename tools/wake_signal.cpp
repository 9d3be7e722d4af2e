#include "tools/wake_signal.h"

#include <atomic>

namespace KESTRO {
namespace TOOLS {

namespace {
std::atomic<wake_signal::block_fn> block_override{nullptr};
}  // namespace

void wake_signal::notify() {
    // Taking the mutex orders the notification after a waiter's look at its condition, so
    // the waiter sees the change then or holds a ticket that this wake makes stale.
    { std::lock_guard<std::mutex> guard(m_mutex); }
    m_events.wake_all();
}

void wake_signal::block(std::uint32_t ticket, clock::duration rest) {
    if (const block_fn fn = block_override.load()) {
        fn(m_events, ticket, rest);
        return;
    }
    m_events.wait(ticket, std::chrono::duration_cast<std::chrono::nanoseconds>(rest));
}

void wake_signal::set_block_function(block_fn fn) {
    block_override.store(fn);
}

}  // namespace TOOLS
}  // namespace KESTRO
