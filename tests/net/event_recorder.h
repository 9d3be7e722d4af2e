// Test helper. event_recorder: an owner callback that records every transport event with the
// thread it came on, lets the test wait for a condition on them with a bound, and answers
// EVENT_RECV with a consumption policy. Entered by the transport's threads (record) and the
// test thread; m_mutex guards the list and is never held across a hook.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "net/socket_event.h"

struct recorded_event {
    std::uint32_t type;
    std::uint32_t thread;
    std::string data;  // a copy of the bytes of EVENT_RECV
};

class event_recorder {
public:
    using events = std::vector<recorded_event>;

    // The socket_event_callback; user is the recorder.
    static int callback(socket_event* event, void* user);

    // Set before connecting. consume: bytes taken from an EVENT_RECV (default none), run
    // under the lock; after: runs once the event is recorded, outside the lock; skip_sends:
    // EVENT_SEND is not recorded (for tests that send in a loop).
    std::function<std::int32_t(const std::string& data)> consume;
    std::function<void(socket_event* event)> after;
    bool skip_sends = false;

    // Waits up to `bound` until cond holds for the recorded events.
    bool wait_for(const std::function<bool(const events&)>& cond,
                  std::chrono::milliseconds bound = std::chrono::seconds(5));
    // Waits up to five seconds until `count` events of `type` were recorded.
    bool wait_for_type(std::uint32_t type, std::size_t count = 1);
    void clear();
    // The thread of the first event of `type`; 0 when there is none.
    std::uint32_t first_thread(std::uint32_t type);
    // The recorded types in order, and the data of every EVENT_RECV in order.
    std::vector<std::uint32_t> types();
    std::vector<std::string> received();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    events m_events;
};
