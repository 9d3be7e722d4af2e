#include "bench/e2e_report.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace e2e {

namespace {

double ratio(double library, double baseline) {
    return baseline > 0 ? library / baseline : 0;
}

double largest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// The latency rows and targets: each percentile of a paced run.
const struct {
    const char* name;
    double percentiles::*field;
} latency_rows[] = {{"p50", &percentiles::p50},
                    {"p90", &percentiles::p90},
                    {"p99", &percentiles::p99},
                    {"max", &percentiles::max}};

void print_row(const char* what, double library, double baseline, const char* format) {
    char lib[32], base[32];
    std::snprintf(lib, sizeof lib, format, library);
    std::snprintf(base, sizeof base, format, baseline);
    std::printf("| %-52s | %14s | %14s | %7.2f |\n", what, lib, base, ratio(library, baseline));
}

// A row of the library alone.
void print_own_row(const char* what, double library, const char* format) {
    char lib[32];
    std::snprintf(lib, sizeof lib, format, library);
    std::printf("| %-52s | %14s | %14s | %7s |\n", what, lib, "-", "-");
}

// One row per library thread, in the order the library starts them: the receive thread (started
// by the transport before it connects; it waits on the socket itself) and the worker (started
// at login).
void print_by_thread(const char* what, const std::vector<double>& values, const char* format) {
    char label[96];
    for (std::size_t t = 0; t < values.size(); ++t) {
        std::snprintf(label, sizeof label, "  library thread %zu, %s", t + 1, what);
        print_own_row(label, values[t], format);
    }
}

bool idle_measured(const summary& s) {
    return !s.idle_share_by_thread.empty();
}

std::vector<double> medians(const std::vector<std::vector<double>>& by_thread) {
    std::vector<double> result;
    for (const std::vector<double>& runs : by_thread) result.push_back(median(runs));
    return result;
}

void print_latency(double rate, const run_result& lib, const run_result& base) {
    char label[96];
    for (const auto& row : latency_rows) {
        std::snprintf(label, sizeof label, "latency %s at %.0f/s, us (n=%zu)", row.name, rate,
                      lib.latency.count);
        print_row(label, lib.latency.*row.field, base.latency.*row.field, "%.1f");
    }
}

void target(bool met, const char* what, const std::string& figures) {
    std::printf("%-7s %-46s %s\n", met ? "MET" : "MISSED", what, figures.c_str());
}

template <class... ARGS>
std::string format(const char* pattern, ARGS... args) {
    char text[200];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

unsigned long long count_of(std::uint64_t n) {
    return static_cast<unsigned long long>(n);
}

}  // namespace

percentiles percentiles_of(std::vector<double> samples) {
    percentiles p;
    p.count = samples.size();
    if (samples.empty()) return p;
    std::sort(samples.begin(), samples.end());
    auto rank = [&](double q) {
        const auto i = static_cast<std::size_t>(q * static_cast<double>(samples.size()));
        return samples[std::min(i, samples.size() - 1)];
    };
    p.p50 = rank(0.50);
    p.p90 = rank(0.90);
    p.p99 = rank(0.99);
    p.max = samples.back();
    return p;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void print_table(const summary& s) {
    std::printf(
        "\nEnd to end over 127.0.0.1%s: library = shared library through its public API, "
        "baseline = blocking recv loop (8192-byte receives), same sender, same run.\n\n",
        s.smoke ? " (smoke run: tiny, numbers not meaningful)" : "");
    std::printf("| %-52s | %14s | %14s | %7s |\n", "measure", "library", "baseline", "ratio");
    std::printf("|%s|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(16, '-').c_str(),
                std::string(16, '-').c_str(), std::string(9, '-').c_str());
    char label[96];
    std::snprintf(label, sizeof label, "throughput, quotes/s (median of %zu x %llu)",
                  s.lib_rate.size(), static_cast<unsigned long long>(s.flood_quotes));
    print_row(label, median(s.lib_rate), median(s.base_rate), "%.0f");
    print_row("receiver CPU per quote, ns (flood)", median(s.lib_cpu), median(s.base_cpu), "%.0f");
    print_by_thread("ns", medians(s.lib_cpu_by_thread), "%.0f");
    print_by_thread("sleeps per 1000 quotes", medians(s.lib_sleeps_by_thread), "%.2f");
    std::snprintf(label, sizeof label, "heap allocations per quote, first flood (%llu quotes)",
                  static_cast<unsigned long long>(s.first_flood_lib.quotes));
    print_row(label, s.first_flood_lib.per_quote(), s.first_flood_base.per_quote(), "%.4f");
    std::snprintf(label, sizeof label, "heap allocations per quote, later floods (%llu quotes)",
                  static_cast<unsigned long long>(s.later_floods_lib.quotes));
    print_row(label, s.later_floods_lib.per_quote(), s.later_floods_base.per_quote(), "%.4f");
    std::snprintf(label, sizeof label, "heap allocations per quote, paced (%llu quotes)",
                  static_cast<unsigned long long>(s.paced_lib.quotes));
    print_row(label, s.paced_lib.per_quote(), s.paced_base.per_quote(), "%.4f");
    for (std::size_t i = 0; i < s.paced.size(); ++i) {
        print_latency(s.rates[i], s.paced[i].first, s.paced[i].second);
    }
    for (std::size_t i = 0; i < s.paced.size(); ++i) {
        std::snprintf(label, sizeof label, "receiver CPU at %.0f quotes/s, %% of a core",
                      s.rates[i]);
        print_row(label, 100 * s.paced[i].first.cpu_share, 100 * s.paced[i].second.cpu_share,
                  "%.2f");
    }
    if (idle_measured(s)) {
        print_own_row("idle CPU, logged in, nothing registered, % of a core", 100 * s.idle_share,
                      "%.2f");
        std::vector<double> percent;
        for (double share : s.idle_share_by_thread) percent.push_back(100 * share);
        print_by_thread("% of a core", percent, "%.2f");
        print_by_thread("wake-ups per second", s.idle_wakes_by_thread, "%.0f");
        print_own_row("heap allocations while idle", static_cast<double>(s.idle_allocs), "%.0f");
    }
    std::snprintf(label, sizeof label, "Disconnect, ms (worst of %zu)", s.disconnect_ms.size());
    print_own_row(label, largest(s.disconnect_ms), "%.2f");
    std::snprintf(label, sizeof label, "DestroyOrvQuoteApi, ms (worst of %zu)",
                  s.destroy_ms.size());
    print_own_row(label, largest(s.destroy_ms), "%.2f");
    std::printf("\n");
    // Where the library's allocations came from, by request size, over all measured runs
    // (warm-up included): the evidence for finding their source.
    bool any = false;
    for (std::size_t k = 0; k < s.alloc_sizes.size(); ++k) {
        if (s.alloc_sizes[k] == 0) continue;
        if (!any) std::printf("library heap allocations during the measured runs, by size:");
        any = true;
        std::printf(" %llu of <=%llu B;", static_cast<unsigned long long>(s.alloc_sizes[k]),
                    static_cast<unsigned long long>(1ULL << k));
    }
    if (any) std::printf("\n\n");
}

namespace {

// Latency p50, p90 and p99 at most 2 x the baseline at 1 000 and 10 000 quotes/s and at most
// 3 x at 100 000; receiver CPU at most 1.5 x at the two lower rates.
void print_paced_targets(double rate, const run_result& lib, const run_result& base) {
    const double bound = rate >= 100000 ? 3 : 2;
    char what[64];
    for (const auto& row : latency_rows) {
        if (row.field == &percentiles::max) continue;
        const double mine = lib.latency.*row.field, theirs = base.latency.*row.field;
        std::snprintf(what, sizeof what, "latency %s at %.0f/s, at most %.0f x", row.name, rate,
                      bound);
        target(mine <= bound * theirs, what,
               format("%.1f us, %.2f x baseline %.1f us", mine, ratio(mine, theirs), theirs));
    }
    if (rate >= 100000) return;
    std::snprintf(what, sizeof what, "receiver CPU at %.0f quotes/s, at most 1.5 x", rate);
    target(lib.cpu_share <= 1.5 * base.cpu_share, what,
           format("%.2f %% of a core, %.2f x baseline %.2f %%", 100 * lib.cpu_share,
                  ratio(lib.cpu_share, base.cpu_share), 100 * base.cpu_share));
}

}  // namespace

void print_targets(const summary& s) {
    std::printf("== targets (library against the baseline of the same run%s)\n",
                s.smoke ? "; smoke run, not meaningful" : "");
    for (std::size_t i = 0; i < s.paced.size(); ++i) {
        if (s.rates[i] == 1000 || s.rates[i] == 10000 || s.rates[i] == 100000)
            print_paced_targets(s.rates[i], s.paced[i].first, s.paced[i].second);
    }
    if (idle_measured(s)) {
        std::string wakes;
        for (double w : s.idle_wakes_by_thread) wakes += format(" %.0f", w);
        target(s.idle_share <= 0.001, "idle CPU, logged in, at most 0.1 % of a core",
               format("%.3f %% of a core (wake-ups per second by thread:%s)", 100 * s.idle_share,
                      wakes.c_str()));
    }
    const bool none = s.paced_lib.allocs == 0 && s.later_floods_lib.allocs == 0;
    target(none, "heap allocations, paced and later floods: 0",
           format("%llu in %llu paced quotes, %llu in %llu quotes of later floods",
                  count_of(s.paced_lib.allocs), count_of(s.paced_lib.quotes),
                  count_of(s.later_floods_lib.allocs), count_of(s.later_floods_lib.quotes)));
    const double rate = ratio(median(s.lib_rate), median(s.base_rate));
    target(rate >= 0.9 && s.lib_rate.size() >= 5, "throughput, at least 0.9 x (median of 5+)",
           format("%.2f x (%.0f against %.0f quotes/s, median of %zu alternating floods)", rate,
                  median(s.lib_rate), median(s.base_rate), s.lib_rate.size()));
    const double cpu = ratio(median(s.lib_cpu), median(s.base_cpu));
    target(cpu <= 1.5, "CPU per quote in floods, at most 1.5 x",
           format("%.2f x (%.0f against %.0f ns)", cpu, median(s.lib_cpu), median(s.base_cpu)));
    if (s.disconnect_ms.empty() && s.destroy_ms.empty()) return;  // a run without teardowns
    target(!s.disconnect_ms.empty() && largest(s.disconnect_ms) <= 50, "Disconnect, at most 50 ms",
           format("worst %.2f ms of %zu, median %.2f ms", largest(s.disconnect_ms),
                  s.disconnect_ms.size(), median(s.disconnect_ms)));
    target(!s.destroy_ms.empty() && largest(s.destroy_ms) <= 50,
           "DestroyOrvQuoteApi, at most 50 ms",
           format("worst %.2f ms of %zu, median %.2f ms", largest(s.destroy_ms),
                  s.destroy_ms.size(), median(s.destroy_ms)));
}

}  // namespace e2e
