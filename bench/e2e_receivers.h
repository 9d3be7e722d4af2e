// Benchmark support, not part of the library. The two receivers of the end-to-end benchmark
// and their shared bookkeeping: quote_counter (what every receiver does per quote), bench_sink
// (the application, for the library) and raw_receiver (the baseline: a blocking receive loop
// on a thread of its own). Each counter is written by one receiving thread and read and
// armed by the driver's thread between runs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "bench/alloc_counter.h"
#include "orv_quote_api.h"
#include "platform/socket.h"
#include "protocol/wire.h"

namespace e2e {

using tid_list = std::vector<std::int64_t>;

inline double now_us() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(since).count()) /
           1000.0;
}

inline void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

template <class Predicate>
bool wait_until(Predicate done, int timeout_ms) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        sleep_ms(1);
    }
    return true;
}

// ---- the receiving side's bookkeeping -----------------------------------------------------

// What each receiver does per quote, on its receiving thread: count, take the latency sample
// while a paced run records, and at two chosen counts note the time and the allocations made
// so far by the receiver's threads. Never allocates.
class quote_counter {
public:
    void on_quote(const OrvMarketDepthQuoteData* quote) {
        if (m_stall_ms.load(std::memory_order_relaxed) != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_stall_ms.exchange(0)));
        }
        const std::uint64_t n = m_received.load(std::memory_order_relaxed) + 1;
        const bool recording = m_recording.load(std::memory_order_acquire);
        // The clock only where a time is kept: in a flood it would cost more than the quote.
        const double arrived = recording || n == m_warm_at.load(std::memory_order_relaxed) ||
                                       n == m_done_at.load(std::memory_order_relaxed)
                                   ? now_us()
                                   : 0;
        if (recording) {
            const std::size_t i = m_sample_count.load(std::memory_order_relaxed);
            if (i < m_samples.size()) {
                m_samples[i] = arrived - quote->MarketValue16;
                m_sample_count.store(i + 1, std::memory_order_release);
            }
        }
        if (n == m_warm_at.load(std::memory_order_relaxed)) {
            m_warm_us = arrived;
            m_warm_allocs = alloc_counter::total_for(m_tids.data(), m_tids.size());
        }
        if (n == m_done_at.load(std::memory_order_relaxed)) {
            m_done_allocs = alloc_counter::total_for(m_tids.data(), m_tids.size());
            m_done_us.store(arrived, std::memory_order_release);
        }
        m_received.store(n, std::memory_order_release);
    }

    // Driver thread, between runs: the threads whose allocations count.
    void set_threads(const tid_list& tids) { m_tids = tids; }

    // Driver thread: arms the next run of `count` quotes; the first `warm` of them are warm-up.
    // With `record`, each quote's latency is kept.
    void arm(std::uint64_t count, std::uint64_t warm, bool record) {
        const std::uint64_t base = m_received.load(std::memory_order_acquire);
        m_done_us.store(0);
        m_samples.assign(record ? count : 0, 0.0);
        m_sample_count.store(0);
        m_warm_at.store(base + (warm > 0 ? warm : 1));
        m_done_at.store(base + count);
        m_recording.store(record, std::memory_order_release);
    }
    void disarm() { m_recording.store(false, std::memory_order_release); }
    // Driver thread: the next quote holds its receiving thread this long, once.
    void stall_next(unsigned milliseconds) { m_stall_ms.store(milliseconds); }

    std::uint64_t received() const { return m_received.load(std::memory_order_acquire); }
    bool done() const { return m_done_us.load(std::memory_order_acquire) != 0; }
    double done_us() const { return m_done_us.load(std::memory_order_acquire); }
    double warm_us() const { return m_warm_us; }
    std::uint64_t steady_allocs() const { return m_done_allocs - m_warm_allocs; }
    std::uint64_t steady_quotes() const { return m_done_at.load() - m_warm_at.load(); }
    std::vector<double> samples() const {
        return std::vector<double>(m_samples.begin(),
                                   m_samples.begin() + static_cast<long>(m_sample_count.load()));
    }

private:
    std::atomic<std::uint64_t> m_received{0};
    std::atomic<std::uint64_t> m_warm_at{~std::uint64_t{0}};
    std::atomic<std::uint64_t> m_done_at{~std::uint64_t{0}};
    std::atomic<bool> m_recording{false};
    std::atomic<unsigned> m_stall_ms{0};
    std::atomic<double> m_done_us{0};
    double m_warm_us = 0;
    std::uint64_t m_warm_allocs = 0;
    std::uint64_t m_done_allocs = 0;
    std::vector<double> m_samples;
    std::atomic<std::size_t> m_sample_count{0};
    tid_list m_tids;
};

// The application: counts quotes and notes the answers it waits for.
class bench_sink : public OrvQuoteEventSink {
public:
    explicit bench_sink(quote_counter& counter) : m_counter(counter) {}

    void OnQuote(int, const OrvMarketDepthQuoteData* quote) override { m_counter.on_quote(quote); }
    void OnLoginReply(bool success, const char*) override { login.store(success ? 1 : -1); }
    void OnRegisterReply(int, const char*, bool success) override {
        if (success) registered.store(true);
    }
    void OnLogText(int level, const char* text, int) override {
        if (level >= 3) std::fprintf(stderr, "library: %s\n", text);
    }

    std::atomic<int> login{0};
    std::atomic<bool> registered{false};

private:
    quote_counter& m_counter;
};

// ---- the baseline: one blocking receive loop ----------------------------------------------

// Connects to the simulator and receives until the connection ends, cutting whole quote
// messages out of an 8192-byte receive (the size the library receives with) and handing each
// to the sink in place. A partial message moves to the front for the next receive.
class raw_receiver {
public:
    raw_receiver(std::uint16_t port, quote_counter& counter) : m_sink(counter) {
        m_socket = platform::socket_open_tcp();
        m_connected = m_socket != platform::invalid_socket &&
                      platform::socket_connect(m_socket, "127.0.0.1", port);
        if (m_connected) platform::socket_set_nodelay(m_socket);
        m_thread = std::thread([this] { run(); });
        wait_until([this] { return m_tid.load() != 0; }, 5000);
    }
    ~raw_receiver() {
        if (m_thread.joinable()) m_thread.join();
        if (m_socket != platform::invalid_socket) platform::socket_close(m_socket);
    }
    raw_receiver(const raw_receiver&) = delete;
    raw_receiver& operator=(const raw_receiver&) = delete;

    bool connected() const { return m_connected; }
    std::int64_t tid() const { return m_tid.load(); }

private:
    static constexpr std::size_t receive_size = 8192;

    void run() {
        m_tid.store(alloc_counter::current_tid());
        if (!m_connected) return;
        std::size_t have = 0;
        for (;;) {
            const int n = platform::socket_recv(m_socket, m_buffer + have, receive_size);
            if (n <= 0) return;
            have += static_cast<std::size_t>(n);
            std::size_t at = 0;
            for (; have - at >= QUOTE_MSG_LEN; at += QUOTE_MSG_LEN) {
                auto* message = reinterpret_cast<oqs_quote_msg*>(m_buffer + at);
                m_sink.OnQuote(message->exchange_code, &message->quote);
            }
            std::memmove(m_buffer, m_buffer + at, have - at);
            have -= at;
        }
    }

    bench_sink m_sink;
    platform::socket_t m_socket = platform::invalid_socket;
    bool m_connected = false;
    std::atomic<std::int64_t> m_tid{0};
    char m_buffer[receive_size + QUOTE_MSG_LEN];
    std::thread m_thread;
};

}  // namespace e2e
