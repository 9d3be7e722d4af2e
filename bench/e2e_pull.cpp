#include "bench/e2e_pull.h"

#include <cstdio>
#include <string>

#include "bench/alloc_counter.h"
#include "bench/thread_cpu.h"

namespace e2e {

namespace {

bool next_event_of(orvq_client* client, int kind, int timeout_ms) {
    orvq_event event;
    event.size = sizeof event;
    const double limit = now_us() + timeout_ms * 1000.0;
    while (now_us() < limit) {
        if (orvq_next_event(client, &event, 100) != 1) continue;
        if (event.kind == ORVQ_EVENT_LOG && event.value >= 3)
            std::fprintf(stderr, "library: %s\n", event.text);
        if (event.kind == kind) return event.value == 1;
    }
    return false;
}

void print_pair(const char* what, double pulled, double sink, const char* format) {
    char left[32], right[32];
    std::snprintf(left, sizeof left, format, pulled);
    std::snprintf(right, sizeof right, format, sink);
    std::printf("| %-52s | %14s | %14s | %7.2f |\n", what, left, right,
                sink > 0 ? pulled / sink : 0);
}

}  // namespace

pull_link::pull_link(sim::quote_server& server) : m_connection(server.accepted_count()) {
    const tid_list before = thread_cpu::list_threads();
    if (orvq_create(nullptr, nullptr, 0, &m_client) != ORVQ_OK || !log_in(server.port())) {
        std::fprintf(stderr, "e2e_bench: the pull-mode client could not log in\n");
        return;
    }
    m_poller = std::thread([this] { poll_loop(); });
    wait_until([&] { return m_poller_tid.load() != 0; }, 5000);
    m_tids = thread_cpu::added(before, thread_cpu::list_threads());
    m_ready = true;
}

pull_link::~pull_link() {
    m_stop.store(true);
    if (m_poller.joinable()) m_poller.join();
    orvq_destroy(m_client);
}

bool pull_link::log_in(std::uint16_t port) {
    return orvq_connect(m_client, "127.0.0.1", port) == ORVQ_OK &&
           orvq_login(m_client, "bench", "0123456789abcdef0123456789ABCDEF") == ORVQ_OK &&
           next_event_of(m_client, ORVQ_EVENT_LOGIN_REPLY, 15000) &&
           orvq_register(m_client, '2', "SIMA01") == ORVQ_OK &&
           next_event_of(m_client, ORVQ_EVENT_REGISTER_REPLY, 10000);
}

void pull_link::poll_loop() {
    m_poller_tid.store(alloc_counter::current_tid());
    while (!m_stop.load()) {
        const int n = orvq_poll_quotes(m_client, m_batch.data(), nullptr, nullptr, batch, 100);
        for (int i = 0; i < n; ++i) {
            m_counter.on_quote(reinterpret_cast<const OrvMarketDepthQuoteData*>(&m_batch[i]));
        }
    }
}

std::uint64_t pull_link::dropped() const {
    orvq_stats stats{};
    stats.size = sizeof stats;
    return orvq_get_stats(m_client, &stats) == ORVQ_OK ? stats.quotes_dropped : 0;
}

void pull_summary::add(const run_result& pulled, const run_result& sink) {
    rate.push_back(pulled.quotes_per_s);
    sink_rate.push_back(sink.quotes_per_s);
    cpu.push_back(pulled.cpu_ns_per_quote);
    sink_cpu.push_back(sink.cpu_ns_per_quote);
    allocs.add(pulled);
}

void print_pull_table(const pull_summary& p) {
    if (p.rate.empty()) return;
    std::printf(
        "C interface, pull mode (batches of up to %d into the application's array) "
        "against the C++ sink, same floods:\n\n",
        pull_link::batch);
    std::printf("| %-52s | %14s | %14s | %7s |\n", "measure", "pull mode", "C++ sink", "ratio");
    std::printf("|%s|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(16, '-').c_str(),
                std::string(16, '-').c_str(), std::string(9, '-').c_str());
    char label[96];
    std::snprintf(label, sizeof label, "throughput, quotes/s (median of %zu)", p.rate.size());
    print_pair(label, median(p.rate), median(p.sink_rate), "%.0f");
    print_pair("receiver CPU per quote, ns (library + poller)", median(p.cpu), median(p.sink_cpu),
               "%.0f");
    std::printf("| %-52s | %14.4f | %14s | %7s |\n", "heap allocations per quote, after warm-up",
                p.allocs.per_quote(), "-", "-");
    std::printf("| %-52s | %14llu | %14s | %7s |\n\n", "quotes dropped from the pull queue",
                static_cast<unsigned long long>(p.dropped), "-", "-");
}

void print_pull_target(const pull_summary& p) {
    if (p.rate.empty()) return;
    const double ratio = median(p.sink_rate) > 0 ? median(p.rate) / median(p.sink_rate) : 0;
    char figures[160];
    std::snprintf(figures, sizeof figures,
                  "%.2f x (%.0f against %.0f quotes/s, median of %zu floods)", ratio,
                  median(p.rate), median(p.sink_rate), p.rate.size());
    std::printf("%-7s %-44s %s\n", ratio >= 0.9 && p.rate.size() >= 5 ? "MET" : "MISSED",
                "C pull mode, at least 0.9 x the C++ sink", figures);
}

}  // namespace e2e
