// End to end: the simulator streams quote messages over loopback into (a) the shared library
// through its public API, with a sink that only counts, and (b) a plain blocking receive loop
// that cuts the same messages and hands them to the same sink code. Both run in this process,
// in the same run, so every number of (a) is reported as a ratio against (b).
//
// Measured: throughput, CPU time per quote, heap allocations per quote after warm-up, one-way
// latency at fixed rates (the sender writes its steady-clock time in microseconds into the
// record's MarketValue16; OnQuote reads the same clock), and the CPU cost of an idle and of a
// lightly loaded client. Nothing here judges a speed: the exit code says only whether every
// quote arrived.
//
//   e2e_bench            full run (about a minute)
//   e2e_bench --smoke    a few thousand quotes and one short rate, a few seconds
//   e2e_bench --flood-only   throughput runs only, for a profiler

#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bench/alloc_counter.h"
#include "bench/e2e_receivers.h"
#include "bench/thread_cpu.h"
#include "orv_quote_api.h"
#include "platform/socket.h"
#include "protocol/wire.h"
#include "sim/messages.h"
#include "sim/quote_server.h"
#include "sim/sample_data.h"

namespace {

using namespace e2e;

// ---- the sending side ---------------------------------------------------------------------

constexpr std::size_t stamp_offset =
    offsetof(oqs_quote_msg, quote) + offsetof(OrvMarketDepthQuoteData, MarketValue16);

std::string quote_message(int sequence) {
    return sim::quote_bytes('2', sim::make_quote("SIMA01", sequence));
}

void stamp(std::string& message, std::size_t at) {
    const double sent = now_us();
    std::memcpy(&message[at + stamp_offset], &sent, sizeof sent);
}

// As fast as the connection takes them: writes of 64 quotes each.
bool send_flood(sim::quote_server& server, std::size_t connection, std::uint64_t count) {
    constexpr std::uint64_t per_write = 64;
    std::string batch;
    for (std::uint64_t i = 0; i < per_write; ++i) batch += quote_message(static_cast<int>(i));
    std::uint64_t sent = 0;
    while (sent < count) {
        const std::uint64_t n = std::min(per_write, count - sent);
        if (!server.send_raw(connection,
                             n == per_write ? batch : batch.substr(0, n * QUOTE_MSG_LEN)))
            return false;
        sent += n;
    }
    return true;
}

// One quote per write at `rate` per second, each stamped just before its write. A sender that
// falls behind sends the next quote at once rather than in a burst.
bool send_paced(sim::quote_server& server, std::size_t connection, std::uint64_t count,
                double rate) {
    std::string message = quote_message(1);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const double start_ns =
        static_cast<double>(start.tv_sec) * 1e9 + static_cast<double>(start.tv_nsec);
    for (std::uint64_t i = 0; i < count; ++i) {
        const double due_ns = start_ns + static_cast<double>(i) * 1e9 / rate;
        timespec due{};
        due.tv_sec = static_cast<time_t>(due_ns / 1e9);
        due.tv_nsec = static_cast<long>(due_ns - static_cast<double>(due.tv_sec) * 1e9);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        stamp(message, 0);
        if (!server.send_raw(connection, message)) return false;
    }
    return true;
}

// ---- results ------------------------------------------------------------------------------

struct percentiles {
    double p50 = 0, p90 = 0, p99 = 0, max = 0;
    std::size_t count = 0;
};

percentiles percentiles_of(std::vector<double> samples) {
    percentiles p;
    p.count = samples.size();
    if (samples.empty()) return p;
    std::sort(samples.begin(), samples.end());
    auto rank = [&](double q) {
        std::size_t i = static_cast<std::size_t>(q * static_cast<double>(samples.size()));
        return samples[std::min(i, samples.size() - 1)];
    };
    p.p50 = rank(0.50);
    p.p90 = rank(0.90);
    p.p99 = rank(0.99);
    p.max = samples.back();
    return p;
}

// One receiver's results of one kind of run.
struct run_result {
    bool complete = false;
    double quotes_per_s = 0;
    double cpu_ns_per_quote = 0;
    double cpu_share = 0;  // CPU time over wall time: 1.0 is one core busy
    std::vector<double> cpu_ns_per_quote_by_thread;  // in the order of the thread list
    std::uint64_t steady_allocs = 0;
    std::uint64_t steady_quotes = 0;
    percentiles latency;
};

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// ---- the two receivers under one driver ---------------------------------------------------

struct options {
    bool smoke = false;
    int repeats = 3;
    std::uint64_t flood_quotes = 1000000;
    struct rate {
        double per_s;
        double seconds;
    };
    std::vector<rate> rates{{1000, 10}, {10000, 3}, {100000, 2}};
    int idle_s = 10;
};

options smoke_options() {
    options o;
    o.smoke = true;
    o.repeats = 1;
    o.flood_quotes = 5000;
    o.rates = {{1000, 1}};
    o.idle_s = 1;
    return o;
}

// CPU time each thread has used since `before` (taken with thread_cpu::cpu_ns_each on the same
// list).
std::vector<double> cpu_ns_since(const tid_list& tids, const std::vector<std::int64_t>& before) {
    const std::vector<std::int64_t> now = thread_cpu::cpu_ns_each(tids);
    std::vector<double> used;
    for (std::size_t i = 0; i < now.size(); ++i)
        used.push_back(static_cast<double>(now[i] - before[i]));
    return used;
}

// Runs `send` against a receiver whose threads are `tids` and counter `counter`, and waits
// for every quote. `count` quotes, the first fifth warm-up.
template <class Send>
run_result measure(quote_counter& counter, const tid_list& tids, std::uint64_t count, bool record,
                   Send send) {
    run_result r;
    counter.set_threads(tids);
    counter.arm(count, count / 5, record);
    const std::vector<std::int64_t> cpu_before = thread_cpu::cpu_ns_each(tids);
    const double start = now_us();
    const bool sent = send();
    r.complete = sent && wait_until([&] { return counter.done(); }, 30000);
    const double end = r.complete ? counter.done_us() : now_us();
    const std::vector<double> cpu_used = cpu_ns_since(tids, cpu_before);
    counter.disarm();
    double cpu_total = 0;
    for (double used : cpu_used) {
        r.cpu_ns_per_quote_by_thread.push_back(used / static_cast<double>(count));
        cpu_total += used;
    }
    const double seconds = (end - start) / 1e6;
    r.quotes_per_s = seconds > 0 ? static_cast<double>(count) / seconds : 0;
    r.cpu_ns_per_quote = cpu_total / static_cast<double>(count);
    r.cpu_share = seconds > 0 ? cpu_total / 1e9 / seconds : 0;
    if (r.complete) {
        r.steady_allocs = counter.steady_allocs();
        r.steady_quotes = counter.steady_quotes();
    }
    if (record) r.latency = percentiles_of(counter.samples());
    return r;
}

class driver {
public:
    explicit driver(const options& o) : m_options(o), m_sink(m_library_counter) {}

    bool set_up_library() {
        const tid_list before = thread_cpu::list_threads();
        m_api = CreateOrvQuoteApi();
        OqsTcpInfo server;
        std::snprintf(server.ServerIp, sizeof server.ServerIp, "%s", m_server.ip());
        server.ServerPort = m_server.port();
        if (!m_api->ConnServer(server, &m_sink)) return fail("ConnServer failed");
        OrvLoginInfo login;
        std::snprintf(login.UserId, sizeof login.UserId, "%s", "bench");
        std::snprintf(login.Password, sizeof login.Password, "%s",
                      "0123456789abcdef0123456789ABCDEF");
        m_api->LoginToOqs(login);
        if (!wait_until([&] { return m_sink.login.load() != 0; }, 15000) ||
            m_sink.login.load() != 1)
            return fail("no login");
        // The wait, receive and worker threads: everything the library started.
        m_library_tids = thread_cpu::added(before, thread_cpu::list_threads());
        return true;
    }

    bool register_symbol() {
        m_api->RegisterSymbol('2', "SIMA01");
        return wait_until([&] { return m_sink.registered.load(); }, 10000) ||
               fail("no register reply");
    }

    // A logged-in client with nothing registered and nothing arriving.
    // Also the share of each library thread, in the order they started.
    double idle_cpu_share(std::uint64_t* allocations, std::vector<double>* per_thread) {
        const std::uint64_t allocs_before =
            alloc_counter::total_for(m_library_tids.data(), m_library_tids.size());
        const std::vector<std::int64_t> before = thread_cpu::cpu_ns_each(m_library_tids);
        const double start = now_us();
        sleep_ms(m_options.idle_s * 1000);
        const double seconds = (now_us() - start) / 1e6;
        *allocations =
            alloc_counter::total_for(m_library_tids.data(), m_library_tids.size()) - allocs_before;
        double total = 0;
        per_thread->clear();
        for (double used : cpu_ns_since(m_library_tids, before)) {
            per_thread->push_back(used / 1e9 / seconds);
            total += per_thread->back();
        }
        return total;
    }

    template <class Send>
    run_result library_run(std::uint64_t count, bool record, Send send) {
        return measure(m_library_counter, m_library_tids, count, record,
                       [&] { return send(m_server, std::size_t{0}); });
    }

    template <class Send>
    run_result baseline_run(std::uint64_t count, bool record, Send send) {
        quote_counter counter;
        const std::size_t connection = m_server.accepted_count();
        raw_receiver receiver(m_server.port(), counter);
        if (!receiver.connected() || !m_server.wait_accepted(connection + 1, 5000)) {
            fail("baseline could not connect");
            return run_result{};
        }
        const run_result r = measure(counter, tid_list{receiver.tid()}, count, record,
                                     [&] { return send(m_server, connection); });
        m_server.drop(connection);
        return r;
    }

    const tid_list& library_tids() const { return m_library_tids; }

    void tear_down() {
        if (m_api != nullptr) DestroyOrvQuoteApi(m_api);
        m_api = nullptr;
    }

private:
    static bool fail(const char* what) {
        std::fprintf(stderr, "e2e_bench: %s\n", what);
        return false;
    }

    options m_options;
    sim::quote_server m_server;
    quote_counter m_library_counter;
    bench_sink m_sink;
    OrvQuoteApi* m_api = nullptr;
    tid_list m_library_tids;
};

// ---- the report ---------------------------------------------------------------------------

double ratio(double library, double baseline) {
    return baseline > 0 ? library / baseline : 0;
}

double per_quote(const run_result& r) {
    return r.steady_quotes > 0
               ? static_cast<double>(r.steady_allocs) / static_cast<double>(r.steady_quotes)
               : 0;
}

void print_row(const char* what, double library, double baseline, const char* format) {
    char lib[32], base[32];
    std::snprintf(lib, sizeof lib, format, library);
    std::snprintf(base, sizeof base, format, baseline);
    std::printf("| %-52s | %14s | %14s | %7.2f |\n", what, lib, base, ratio(library, baseline));
}

void print_latency(double rate, const run_result& lib, const run_result& base) {
    char label[96];
    const struct {
        const char* name;
        double percentiles::*field;
    } rows[] = {{"p50", &percentiles::p50},
                {"p90", &percentiles::p90},
                {"p99", &percentiles::p99},
                {"max", &percentiles::max}};
    for (const auto& row : rows) {
        std::snprintf(label, sizeof label, "latency %s at %.0f/s, us (n=%zu)", row.name, rate,
                      lib.latency.count);
        print_row(label, lib.latency.*row.field, base.latency.*row.field, "%.1f");
    }
}

}  // namespace

int main(int argc, char** argv) {
    alloc_counter::exclude_this_thread();
    // Paced sends wake on time: the default timer slack (50 us) would bunch them.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    bool smoke = false, flood_only = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            smoke = true;
        else if (std::strcmp(argv[i], "--flood-only") == 0)
            flood_only = true;
        else {
            std::fprintf(stderr, "usage: e2e_bench [--smoke] [--flood-only]\n");
            return 2;
        }
    }
    options o = smoke ? smoke_options() : options{};
    if (flood_only) {  // for profiling the receive path under full load
        o.rates.clear();
        o.idle_s = 0;
    }

    driver d(o);
    if (!d.set_up_library()) return 1;

    std::uint64_t idle_allocs = 0;
    std::vector<double> idle_by_thread;
    const double idle_share = d.idle_cpu_share(&idle_allocs, &idle_by_thread);
    if (!d.register_symbol()) return 1;

    const std::vector<std::uint64_t> sizes_before = alloc_counter::by_size(d.library_tids());

    // Throughput: baseline and library alternate, medians of the repeats.
    auto flood = [&](sim::quote_server& s, std::size_t c) {
        return send_flood(s, c, o.flood_quotes);
    };
    std::vector<double> lib_rate, base_rate, lib_cpu, base_cpu;
    std::vector<std::vector<double>> lib_cpu_by_thread;
    std::uint64_t lib_allocs = 0, lib_quotes = 0, base_allocs = 0, base_quotes = 0;
    // The first flood is where the library's transport makes its pooled buffers; the later
    // ones show whether a warm pool suffices.
    run_result first_lib, first_base;
    bool complete = true;
    for (int i = 0; i < o.repeats; ++i) {
        const run_result base = d.baseline_run(o.flood_quotes, false, flood);
        const run_result lib = d.library_run(o.flood_quotes, false, flood);
        complete = complete && base.complete && lib.complete;
        base_rate.push_back(base.quotes_per_s);
        lib_rate.push_back(lib.quotes_per_s);
        base_cpu.push_back(base.cpu_ns_per_quote);
        lib_cpu.push_back(lib.cpu_ns_per_quote);
        lib_cpu_by_thread.resize(lib.cpu_ns_per_quote_by_thread.size());
        for (std::size_t t = 0; t < lib_cpu_by_thread.size(); ++t) {
            lib_cpu_by_thread[t].push_back(lib.cpu_ns_per_quote_by_thread[t]);
        }
        if (i == 0) {
            first_lib = lib;
            first_base = base;
            continue;
        }
        lib_allocs += lib.steady_allocs;
        lib_quotes += lib.steady_quotes;
        base_allocs += base.steady_allocs;
        base_quotes += base.steady_quotes;
    }

    run_result flood_lib, flood_base;
    flood_lib.steady_allocs = lib_allocs;
    flood_lib.steady_quotes = lib_quotes;
    flood_base.steady_allocs = base_allocs;
    flood_base.steady_quotes = base_quotes;
    lib_allocs = lib_quotes = base_allocs = base_quotes = 0;

    // Latency at fixed rates, baseline first at each rate.
    std::vector<std::pair<run_result, run_result>> paced;
    for (const auto& rate : o.rates) {
        const auto count = static_cast<std::uint64_t>(rate.per_s * rate.seconds);
        auto send = [&](sim::quote_server& s, std::size_t c) {
            return send_paced(s, c, count, rate.per_s);
        };
        const run_result base = d.baseline_run(count, true, send);
        const run_result lib = d.library_run(count, true, send);
        complete = complete && base.complete && lib.complete;
        paced.emplace_back(lib, base);
        lib_allocs += lib.steady_allocs;
        lib_quotes += lib.steady_quotes;
        base_allocs += base.steady_allocs;
        base_quotes += base.steady_quotes;
    }
    const std::vector<std::uint64_t> sizes_after = alloc_counter::by_size(d.library_tids());
    d.tear_down();

    std::printf(
        "\nEnd to end over 127.0.0.1%s: library = shared library through its public API, "
        "baseline = blocking recv loop (8192-byte receives), same sender, same run.\n\n",
        smoke ? " (smoke run: tiny, numbers not meaningful)" : "");
    std::printf("| %-52s | %14s | %14s | %7s |\n", "measure", "library", "baseline", "ratio");
    std::printf("|%s|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(16, '-').c_str(),
                std::string(16, '-').c_str(), std::string(9, '-').c_str());
    char label[96];
    std::snprintf(label, sizeof label, "throughput, quotes/s (median of %d x %llu)", o.repeats,
                  static_cast<unsigned long long>(o.flood_quotes));
    print_row(label, median(lib_rate), median(base_rate), "%.0f");
    print_row("receiver CPU per quote, ns (flood)", median(lib_cpu), median(base_cpu), "%.0f");
    // Which of the library's threads the time goes to (in start order: receive thread,
    // socket wait thread, worker), so a cost can be placed before reaching for a profiler.
    for (std::size_t t = 0; t < lib_cpu_by_thread.size(); ++t) {
        std::snprintf(label, sizeof label, "  of which library thread %zu (in start order), ns",
                      t + 1);
        std::printf("| %-52s | %14.0f | %14s | %7s |\n", label, median(lib_cpu_by_thread[t]), "-",
                    "-");
    }
    std::snprintf(label, sizeof label, "heap allocations per quote, first flood (%llu quotes)",
                  static_cast<unsigned long long>(first_lib.steady_quotes));
    print_row(label, per_quote(first_lib), per_quote(first_base), "%.4f");
    std::snprintf(label, sizeof label, "heap allocations per quote, later floods (%llu quotes)",
                  static_cast<unsigned long long>(flood_lib.steady_quotes));
    print_row(label, per_quote(flood_lib), per_quote(flood_base), "%.4f");
    run_result lib_total, base_total;
    lib_total.steady_allocs = lib_allocs;
    lib_total.steady_quotes = lib_quotes;
    base_total.steady_allocs = base_allocs;
    base_total.steady_quotes = base_quotes;
    std::snprintf(label, sizeof label, "heap allocations per quote, paced (%llu quotes)",
                  static_cast<unsigned long long>(lib_quotes));
    print_row(label, per_quote(lib_total), per_quote(base_total), "%.4f");
    for (std::size_t i = 0; i < paced.size(); ++i) {
        print_latency(o.rates[i].per_s, paced[i].first, paced[i].second);
    }
    for (std::size_t i = 0; i < paced.size(); ++i) {
        std::snprintf(label, sizeof label, "receiver CPU at %.0f quotes/s, %% of a core",
                      o.rates[i].per_s);
        print_row(label, 100 * paced[i].first.cpu_share, 100 * paced[i].second.cpu_share, "%.2f");
    }
    std::snprintf(label, sizeof label, "idle CPU, logged in, nothing registered, %% of a core");
    std::printf("| %-52s | %14.2f | %14s | %7s |\n", label, 100 * idle_share, "-", "-");
    for (std::size_t i = 0; i < idle_by_thread.size(); ++i) {
        std::snprintf(label, sizeof label, "  of which library thread %zu (in start order), %%",
                      i + 1);
        std::printf("| %-52s | %14.2f | %14s | %7s |\n", label, 100 * idle_by_thread[i], "-", "-");
    }
    std::printf("| %-52s | %14llu | %14s | %7s |\n", "heap allocations while idle",
                static_cast<unsigned long long>(idle_allocs), "-", "-");
    std::printf("\n");
    // Where the library's allocations came from, by request size, over all measured runs
    // (warm-up included): the evidence for finding their source.
    bool any = false;
    for (std::size_t k = 0; k < sizes_after.size(); ++k) {
        const std::uint64_t n = sizes_after[k] - sizes_before[k];
        if (n == 0) continue;
        if (!any) std::printf("library heap allocations during the measured runs, by size:");
        any = true;
        std::printf(" %llu of <=%llu B;", static_cast<unsigned long long>(n),
                    static_cast<unsigned long long>(1ULL << k));
    }
    if (any) std::printf("\n\n");
    if (!complete) {
        std::fprintf(stderr, "e2e_bench: some quotes did not arrive (see above)\n");
        return 1;
    }
    return 0;
}
