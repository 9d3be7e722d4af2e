// quote_bridge's publishing side. A thread of its own takes the queued quotes in batches and
// sends them to Redis as pipelined XADDs, one stream per symbol, and writes the events it is
// given to the events stream. When Redis goes away it reconnects with a bounded back-off
// (50 ms, doubling up to 2 s) and takes nothing from the queue meanwhile, so that the queue
// fills and what does not fit is dropped and counted; back, it writes `redis_restored` with the
// number of quotes lost, then what the queue kept. Every quote queued ends in exactly one of
// the counts: published, refused (Redis answered with an error) or dropped (the queue was
// full, or the connection broke before Redis confirmed it).
// Threads: the main thread constructs, starts and finishes it; post() from any thread; the
// counters from any thread. m_lock guards the pending events and the stop request; the link,
// the batch buffers and the histogram belong to the publishing thread while it runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "latency_histogram.h"
#include "redis_link.h"
#include "stream_entry.h"
#include "capture/capture_queue.h"

class bridge_publisher {
public:
    // `link` is open already (the program fails at start when Redis cannot be reached);
    // `login` opens it again.
    bridge_publisher(capture::capture_queue& queue, redis_link link, redis_login login,
                     stream_layout layout);
    ~bridge_publisher();
    bridge_publisher(const bridge_publisher&) = delete;
    bridge_publisher& operator=(const bridge_publisher&) = delete;

    // Starts the thread, which writes `started` to the events stream first.
    void start(stream_event started);
    // Any thread: an entry for the events stream, written before the next batch of quotes.
    void post(stream_event event);
    // Closes the queue, publishes what waits while Redis is there (counts it as dropped when
    // it is not), writes `stopped` with `why` and the totals, and joins the thread.
    void finish(const std::string& why);

    std::uint64_t published() const { return m_published.load(); }
    std::uint64_t refused() const { return m_refused.load(); }
    std::uint64_t dropped() const { return m_queue.dropped() + m_unconfirmed.load(); }
    std::uint64_t reconnects() const { return m_reconnects.load(); }
    bool redis_up() const { return m_up.load(); }

    // After finish(): the time from OnQuote to Redis's confirmation of each published quote,
    // and the first error Redis answered with ("" when none).
    const latency_histogram& latency() const { return m_latency; }
    const std::string& first_refusal() const { return m_first_refusal; }

    // Quotes per pipelined write: large enough that a flood costs few system calls, small
    // enough that one write stays a few hundred kilobytes.
    static constexpr std::size_t chunk = 1024;

private:
    void run();
    bool reconnect();  // false once stopping
    void publish_events();
    void publish_quotes();
    // Reads the replies to `commands` commands sent, calling `answered(i, ok)` for each (ok
    // false: an error reply). The number read: fewer than `commands` when the link broke.
    template <class Answered>
    std::size_t read_replies(std::size_t commands, Answered answered);
    // Reads the replies to the `n` quotes of m_batch from `from` on and counts them; false,
    // with the link closed and the rest of the batch counted as dropped, when it broke.
    bool confirm_quotes(std::size_t from, std::size_t n);
    void link_broke(std::uint64_t unconfirmed);

    capture::capture_queue& m_queue;
    redis_link m_link;
    const redis_login m_login;
    const stream_layout m_layout;
    stream_event m_started;

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<stream_event> m_pending;
    bool m_stop = false;
    std::string m_why;

    std::vector<capture::capture_record> m_batch;
    std::vector<stream_event> m_events;
    std::string m_out;
    latency_histogram m_latency;
    std::string m_first_refusal;
    bool m_restoring = false;       // reconnected; redis_restored not written yet
    std::uint64_t m_lost_mark = 0;  // dropped() when the link broke
    std::int64_t m_lost_at_ns = 0;  // and when

    std::atomic<std::uint64_t> m_published{0};
    std::atomic<std::uint64_t> m_refused{0};
    std::atomic<std::uint64_t> m_unconfirmed{0};
    std::atomic<std::uint64_t> m_reconnects{0};
    std::atomic<bool> m_up{true};
    std::thread m_thread;
};
