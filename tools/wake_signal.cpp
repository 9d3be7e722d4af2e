#include "tools/wake_signal.h"

#include <atomic>

namespace KESTRO {
namespace TOOLS {

namespace {
std::atomic<wake_signal::block_fn> block_override{nullptr};
}  // namespace

void wake_signal::notify() {
    // Taking the mutex orders the notification after a waiter's look at its condition: a
    // waiter that found it false is already blocked (or about to look again) when it comes.
    { std::lock_guard<std::mutex> guard(m_mutex); }
    m_cv.notify_all();
}

void wake_signal::block(std::unique_lock<std::mutex>& lock, clock::duration rest) {
    if (const block_fn fn = block_override.load()) {
        fn(m_cv, lock, rest);
        return;
    }
    m_cv.wait_for(lock, rest);
}

void wake_signal::set_block_function(block_fn fn) {
    block_override.store(fn);
}

}  // namespace TOOLS
}  // namespace KESTRO
