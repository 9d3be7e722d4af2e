// Benchmark support, not part of the library. The C interface's pull mode as a receiver of the
// end-to-end benchmark: a client made through orv_quote_c.h without callbacks, logged in to the
// simulator, and an application thread that polls batches of up to 1024 quotes into its own
// array and hands each to the same quote_counter as the other receivers. Its flood results sit
// next to the C++ sink's of the same rounds. The driver's thread makes, measures and ends it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "bench/e2e_receivers.h"
#include "bench/e2e_report.h"
#include "orv_quote_c.h"
#include "sim/quote_server.h"

namespace e2e {

class pull_link {
public:
    static constexpr int batch = 1024;

    // Logs in and registers on `server`, then starts the polling thread; ready() says whether
    // all of that worked.
    explicit pull_link(sim::quote_server& server);
    // Stops the polling thread, then destroys the client.
    ~pull_link();
    pull_link(const pull_link&) = delete;
    pull_link& operator=(const pull_link&) = delete;

    bool ready() const { return m_ready; }
    quote_counter& counter() { return m_counter; }
    // The library's threads and the polling thread: everything that receives.
    const tid_list& tids() const { return m_tids; }
    std::size_t connection() const { return m_connection; }
    std::uint64_t dropped() const;

private:
    bool log_in(std::uint16_t port);
    void poll_loop();

    quote_counter m_counter;
    orvq_client* m_client = nullptr;
    std::size_t m_connection;
    tid_list m_tids;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::atomic<std::int64_t> m_poller_tid{0};
    std::vector<orvq_quote> m_batch = std::vector<orvq_quote>(batch);
    std::thread m_poller;
};

// The pull receiver's floods against the C++ sink's in the same rounds.
struct pull_summary {
    std::vector<double> rate, sink_rate, cpu, sink_cpu;
    alloc_total allocs;
    std::uint64_t dropped = 0;

    void add(const run_result& pulled, const run_result& sink);
};

// Its rows (a small table of their own) and its line for the targets block.
void print_pull_table(const pull_summary& p);
void print_pull_target(const pull_summary& p);

}  // namespace e2e
