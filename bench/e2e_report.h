// Benchmark support, not part of the library. What one run of the end-to-end benchmark
// measured (summary), and its report: the table of the library against the baseline, and the
// targets block, one line per target saying MET or MISSED with its figures. Filled and printed
// by the driver's thread only; nothing here judges the exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace e2e {

struct percentiles {
    double p50 = 0, p90 = 0, p99 = 0, max = 0;
    std::size_t count = 0;
};

// The percentiles of the samples, each the sample at index floor(q * n) of the sorted ones.
percentiles percentiles_of(std::vector<double> samples);
double median(std::vector<double> values);

// One receiver's results of one kind of run.
struct run_result {
    bool complete = false;
    double quotes_per_s = 0;
    double cpu_ns_per_quote = 0;
    double cpu_share = 0;  // CPU time over wall time: 1.0 is one core busy
    std::vector<double> cpu_ns_per_quote_by_thread;  // in the order of the thread list
    std::vector<double> sleeps_per_1000_by_thread;   // blocking waits per 1000 quotes
    std::uint64_t steady_allocs = 0;                 // after the warm-up fifth
    std::uint64_t steady_quotes = 0;
    std::vector<double> samples;  // a paced run's latencies, in microseconds
    percentiles latency;          // of the samples, taken once a rate's rounds are pooled
};

// Allocations and quotes after warm-up, summed over runs.
struct alloc_total {
    std::uint64_t allocs = 0, quotes = 0;
    void add(const run_result& r) {
        allocs += r.steady_allocs;
        quotes += r.steady_quotes;
    }
    double per_quote() const {
        return quotes > 0 ? static_cast<double>(allocs) / static_cast<double>(quotes) : 0;
    }
};

struct summary {
    bool smoke = false;
    std::uint64_t flood_quotes = 0;
    // Floods, library and baseline alternating: one entry per run.
    std::vector<double> lib_rate, base_rate, lib_cpu, base_cpu;
    std::vector<std::vector<double>> lib_cpu_by_thread, lib_sleeps_by_thread;
    alloc_total first_flood_lib, first_flood_base, later_floods_lib, later_floods_base;
    // Paced runs: the rate and (library, baseline) for each.
    std::vector<double> rates;
    std::vector<std::pair<run_result, run_result>> paced;
    alloc_total paced_lib, paced_base;
    // A logged-in client with nothing arriving: share of a core and wake-ups per second by
    // library thread (empty when the run measured no idle time), and the allocations meanwhile.
    double idle_share = 0;
    std::vector<double> idle_share_by_thread, idle_wakes_by_thread;
    std::uint64_t idle_allocs = 0;
    // How long Disconnect and DestroyOrvQuoteApi took on logged-in clients, in ms.
    std::vector<double> disconnect_ms, destroy_ms;
    // The library threads' allocations over the measured runs, by size class.
    std::vector<std::uint64_t> alloc_sizes;
};

void print_table(const summary& s);
void print_targets(const summary& s);

}  // namespace e2e
