// quote_bridge's publishing path into a local Redis, which scripts/bench.sh starts:
//   flood   a capture replayed over and over through the library into the bridge's event
//           object, queue and publisher, at full speed and at 300 000 quotes/s (half as much
//           again as the target); quotes per second that Redis confirms over a window after a
//           warm-up, with what was received and dropped meanwhile. At full speed the sender and
//           the library's receive path take about a core of their own on this machine, which
//           the publisher and Redis then lack
//   alone   the publisher emptying a queue filled beforehand: the Redis path with no feed
//           competing for the CPU
//   paced   1 000 quotes a second (the capture's 1 ms spacing at its recorded pace); the time
//           from OnQuote to Redis's confirmation, p50 and p99
// The streams are trimmed (MAXLEN ~ 10000), as a bridge that runs for days would be. Reports,
// with the targets MET or MISSED; exits non-zero only when a run could not be made or the
// counts do not add up (a quote neither published, refused nor dropped).
//
//   bridge_bench --redis-port N [--smoke]
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "apps/bridge_publisher.h"
#include "apps/quote_session.h"
#include "capture/capture_writer.h"
#include "sim/instruments.h"
#include "sim/quote_stream.h"
#include "sim/replay_source.h"
#include "sim/sample_data.h"

namespace {

constexpr std::uint64_t stream_length = 10000;
constexpr double flood_target = 200000;  // quotes per second
constexpr double offered = 300000;       // the paced flood, quotes per second
constexpr double p99_target_ms = 2;

int g_redis_port = 0;

// `count` quotes 1 ms apart, taking the futures of the invented market in turn.
bool write_capture(const std::string& path, int count) {
    std::vector<sim::instrument> futures;
    for (const sim::instrument& i : sim::default_instruments()) {
        if (i.exchange_code != 'G') futures.push_back(i);
    }
    capture::capture_writer writer;
    if (!writer.open(path, {capture::capture_version, 0, "bridge_bench"})) return false;
    for (int n = 0; n < count; ++n) {
        const sim::instrument& item = futures[static_cast<std::size_t>(n) % futures.size()];
        capture::capture_record record;
        record.receive_ns = 1700000000000000000 + std::int64_t{n} * 1000000;
        record.exchange_code = item.exchange_code;
        record.quote = sim::make_quote(item.symbol, n);
        if (!writer.write(record)) return false;
    }
    return writer.close();
}

redis_login redis() {
    return {"127.0.0.1", g_redis_port, "", ""};
}

// CPU seconds the Redis server has used so far (INFO cpu), or -1.
double redis_cpu_seconds() {
    redis_link link;
    std::string info;
    if (!link.open(redis()) || !link.send("*2\r\n$4\r\nINFO\r\n$3\r\ncpu\r\n") ||
        link.read(&info) != redis_link::reply::ok) {
        return -1;
    }
    double total = 0;
    for (const char* name : {"used_cpu_user:", "used_cpu_sys:"}) {
        const std::size_t at = info.find(name);
        if (at == std::string::npos) return -1;
        total += std::strtod(info.c_str() + at + std::strlen(name), nullptr);
    }
    return total;
}

// CPU seconds of this process (every thread: the simulator, the library, the publisher).
double own_cpu_seconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// A replaying simulator, and one bridge logged in to it with everything registered.
struct bridge_run {
    std::unique_ptr<sim::quote_stream> server;
    capture::capture_queue queue{32768};
    std::unique_ptr<bridge_publisher> publisher;
    std::unique_ptr<session_sink> sink;
    OrvQuoteApi* api = nullptr;

    bool start(const std::string& capture, double speed, bool loop) {
        std::string error, warning;
        auto source = sim::replay_source::open({capture, speed, loop}, error, warning);
        redis_link link;
        if (!source || !link.open(redis())) {
            std::fprintf(stderr, "bridge_bench: %s%s\n", error.c_str(), link.error().c_str());
            return false;
        }
        sim::sim_options options;
        options.port = 0;
        options.heartbeat_seconds = 0;
        server = std::make_unique<sim::quote_stream>(options, nullptr, std::move(source));
        publisher = std::make_unique<bridge_publisher>(queue, std::move(link), redis(),
                                                       stream_layout{"bench", stream_length});
        sink = std::make_unique<session_sink>(queue);
        publisher->start({"started", wall_clock_ns(), "bridge_bench", {}});
        api = CreateOrvQuoteApi();
        session_options session;
        session.server_port = server->port();
        session.all = true;
        const std::atomic<bool> no_stop{false};
        std::vector<std::string> unlisted;
        error = log_in(api, *sink, session, no_stop);
        if (error.empty() && register_wanted(api, session, sink->state(), unlisted) > 0)
            return true;
        std::fprintf(stderr, "bridge_bench: %s\n", error.c_str());
        return false;
    }

    // Ends the session, lets the publisher finish; false when the counts do not add up.
    bool finish() {
        if (api != nullptr) {
            api->Disconnect();
            DestroyOrvQuoteApi(api);
            api = nullptr;
        }
        if (!publisher) return false;
        publisher->finish("done");
        const std::uint64_t accounted =
            publisher->published() + publisher->refused() + publisher->dropped();
        if (accounted == sink->received()) return true;
        std::fprintf(stderr, "bridge_bench: %llu received, %llu accounted for\n",
                     static_cast<unsigned long long>(sink->received()),
                     static_cast<unsigned long long>(accounted));
        return false;
    }
};

using steady = std::chrono::steady_clock;

struct flood_result {
    double published = 0, received = 0, dropped_share = 0;
    double redis_cpu = 0, own_cpu = 0;  // shares of one core over the window
};

// Published, received and dropped per second over `window_s` after `warm_s` of flood, the
// capture (1 ms between quotes) played at `speed` (0: full speed).
bool flood(const std::string& capture, double speed, double warm_s, double window_s,
           flood_result& out) {
    bridge_run run;
    if (!run.start(capture, speed, true)) return false;
    std::this_thread::sleep_for(std::chrono::duration<double>(warm_s));
    const auto t0 = steady::now();
    const double redis0 = redis_cpu_seconds(), own0 = own_cpu_seconds();
    const std::uint64_t p0 = run.publisher->published(), r0 = run.sink->received(),
                        d0 = run.publisher->dropped();
    std::this_thread::sleep_for(std::chrono::duration<double>(window_s));
    const std::uint64_t p = run.publisher->published() - p0, r = run.sink->received() - r0,
                        d = run.publisher->dropped() - d0;
    const double redis1 = redis_cpu_seconds(), own1 = own_cpu_seconds();
    const double s = std::chrono::duration<double>(steady::now() - t0).count();
    out = {static_cast<double>(p) / s, static_cast<double>(r) / s,
           r > 0 ? static_cast<double>(d) / static_cast<double>(r) : 0, (redis1 - redis0) / s,
           (own1 - own0) / s};
    return run.finish();
}

// Quotes per second of a publisher that empties a queue of `count` filled beforehand, Redis's
// share of a core meanwhile, and the publisher's CPU time per quote.
double alone(int count, double& redis_cpu, double& publisher_us) {
    capture::capture_queue queue(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        capture::capture_record record;
        record.receive_ns = wall_clock_ns();
        record.exchange_code = 'S';
        record.quote = sim::make_quote(n % 2 ? "cu2506" : "al2506", n);
        queue.push(record);
    }
    redis_link link;
    if (!link.open(redis())) return 0;
    bridge_publisher publisher(queue, std::move(link), redis(), {"bench", stream_length});
    const double redis0 = redis_cpu_seconds(), own0 = own_cpu_seconds();
    const auto start = steady::now();
    publisher.start({"started", wall_clock_ns(), "bridge_bench", {}});
    publisher.finish("done");
    const double s = std::chrono::duration<double>(steady::now() - start).count();
    redis_cpu = (redis_cpu_seconds() - redis0) / s;
    publisher_us = (own_cpu_seconds() - own0) * 1e6 / count;
    return publisher.published() == static_cast<std::uint64_t>(count) ? count / s : 0;
}

// OnQuote to Redis's confirmation at 1 000 quotes/s: the whole capture, once.
bool paced(const std::string& capture, int count, double& p50_ms, double& p99_ms, double& max_ms) {
    bridge_run run;
    if (!run.start(capture, 1, false)) return false;
    const auto deadline = steady::now() + std::chrono::seconds(count / 1000 + 10);
    while (run.sink->received() < static_cast<std::uint64_t>(count) && steady::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the last confirmations
    const bool complete = run.finish() && run.sink->received() == static_cast<std::uint64_t>(count);
    const latency_histogram& h = run.publisher->latency();
    p50_ms = static_cast<double>(h.percentile(0.5)) / 1e6;
    p99_ms = static_cast<double>(h.percentile(0.99)) / 1e6;
    max_ms = static_cast<double>(h.max()) / 1e6;
    if (!complete) std::fprintf(stderr, "bridge_bench: the paced run lost quotes\n");
    return complete;
}

void row(const char* label, const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    std::printf("| %-64s | %12s |\n", label, text);
}

}  // namespace

int main(int argc, char** argv) {
    bool smoke = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) {
            smoke = true;
        } else if (std::strcmp(argv[i], "--redis-port") == 0 && i + 1 < argc) {
            g_redis_port = std::atoi(argv[++i]);
        } else {
            g_redis_port = 0;
            break;
        }
    }
    if (g_redis_port <= 0) {
        std::fprintf(stderr, "usage: bridge_bench --redis-port N [--smoke]\n");
        return 2;
    }
    const int count = smoke ? 1000 : 5000;
    const char* folder = std::getenv("TMPDIR");
    const std::string capture = std::string(folder != nullptr ? folder : "/tmp") +
                                "/bridge_bench_" + std::to_string(count) + ".oqcap";
    if (!write_capture(capture, count)) {
        std::fprintf(stderr, "bridge_bench: cannot write %s\n", capture.c_str());
        return 1;
    }
    flood_result full, paced_flood;
    double p50 = 0, p99 = 0, max = 0;
    const double warm = smoke ? 0.2 : 1, window = smoke ? 0.5 : 3;
    const bool flooded = flood(capture, 0, warm, window, full) &&
                         flood(capture, offered / 1000, warm, window, paced_flood);
    double alone_redis_cpu = 0, publisher_us = 0;
    const double drained = alone(smoke ? 20000 : 200000, alone_redis_cpu, publisher_us);
    const bool paced_ok = paced(capture, count, p50, p99, max);
    std::remove(capture.c_str());

    std::printf("| %-64s | %12s |\n", "quote_bridge into a local Redis (MAXLEN ~ 10000)", "");
    std::printf("|%s|%s|\n", std::string(66, '-').c_str(), std::string(14, '-').c_str());
    const auto flood_rows = [](const char* which, const flood_result& f) {
        row((std::string(which) + ": quotes/s published (confirmed by Redis)").c_str(), "%.0f",
            f.published);
        row((std::string(which) + ": quotes/s received by the bridge").c_str(), "%.0f", f.received);
        row((std::string(which) + ": share of received quotes dropped").c_str(), "%.3f",
            f.dropped_share);
        row((std::string(which) + ": CPU, % of a core: Redis").c_str(), "%.0f", 100 * f.redis_cpu);
        row((std::string(which) + ": CPU, % of a core: simulator and bridge").c_str(), "%.0f",
            100 * f.own_cpu);
    };
    flood_rows("flood at full speed", full);
    flood_rows("flood at 300 000/s", paced_flood);
    row("publisher alone, queue filled beforehand: quotes/s", "%.0f", drained);
    row("publisher alone: CPU, % of a core: Redis", "%.0f", 100 * alone_redis_cpu);
    row("publisher alone: publishing thread's CPU per quote, us", "%.2f", publisher_us);
    row("1 000 quotes/s: OnQuote to Redis's confirmation p50, ms", "%.3f", p50);
    row("1 000 quotes/s: OnQuote to Redis's confirmation p99, ms", "%.3f", p99);
    row("1 000 quotes/s: OnQuote to Redis's confirmation max, ms", "%.3f", max);
    std::printf("targets%s\n", smoke ? " (smoke run: the figures mean nothing)" : "");
    std::printf(
        "  published from a flood of 300 000/s >= %.0f quotes/s: %s (%.0f; at full "
        "speed %.0f)\n",
        flood_target, paced_flood.published >= flood_target ? "MET" : "MISSED",
        paced_flood.published, full.published);
    std::printf("  p99 at 1 000 quotes/s <= %.0f ms: %s (%.3f ms)\n", p99_target_ms,
                p99 <= p99_target_ms && p99 > 0 ? "MET" : "MISSED", p99);
    return flooded && drained > 0 && paced_ok ? 0 : 1;
}
