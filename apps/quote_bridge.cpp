// quote_bridge: one login's quotes for any number of readers. It logs in with the library,
// registers the symbols asked for (or every listed one) and publishes each quote into a Redis
// stream of its symbol, and the session's events into an events stream, until Ctrl-C or
// --seconds; the library's reconnects and Redis's absences are ridden through.
// docs/bridge.md describes the streams.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "bridge_options.h"
#include "bridge_publisher.h"
#include "command_line.h"
#include "orv_quote_api.h"
#include "quote_session.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void on_signal(int) {
    g_stop.store(true);
}

stream_event session_entry(session_event event, int count) {
    stream_event entry{session_event_name(event), wall_clock_ns(), session_event_text(event), {}};
    if (event == session_event::registrations_restored) {
        entry.numbers.emplace_back("symbols", static_cast<std::uint64_t>(count));
    }
    return entry;
}

unsigned long long ull(std::uint64_t n) {
    return static_cast<unsigned long long>(n);
}

// The counters at one status line, for the next one's rate.
struct status_mark {
    std::uint64_t published = 0;
    double time = 0;
};

void print_status(const session_sink& sink, const bridge_publisher& publisher, double elapsed,
                  status_mark& last) {
    const std::uint64_t published = publisher.published();
    const double rate = elapsed > last.time ? static_cast<double>(published - last.published) /
                                                  (elapsed - last.time)
                                            : 0;
    std::printf(
        "%6.1f s  %llu received  %llu published  %.0f/s  %llu dropped  %llu refused  "
        "%d reconnects  redis %s, %llu reconnects\n",
        elapsed, ull(sink.received()), ull(published), rate, ull(publisher.dropped()),
        ull(publisher.refused()), sink.state().reconnects, publisher.redis_up() ? "up" : "away",
        ull(publisher.reconnects()));
    std::fflush(stdout);
    last = {published, elapsed};
}

void print_summary(const session_sink& sink, const bridge_publisher& publisher,
                   const bridge_options& o, double elapsed) {
    const latency_histogram& latency = publisher.latency();
    const auto ms = [](std::int64_t ns) { return static_cast<double>(ns) / 1e6; };
    std::printf("\n== summary\nquotes received: %llu in %.1f s\n", ull(sink.received()), elapsed);
    std::printf("published: %llu to Redis at %s (streams %s:q:SYMBOL)\n",
                ull(publisher.published()), o.redis_address().c_str(), o.prefix.c_str());
    std::printf("dropped (Redis slow or away): %llu\n", ull(publisher.dropped()));
    std::printf(
        "refused by Redis: %llu%s%s\n", ull(publisher.refused()),
        publisher.first_refusal().empty() ? "" : ", first: ", publisher.first_refusal().c_str());
    std::printf("reconnects: quote server %d, Redis %llu\n", sink.state().reconnects,
                ull(publisher.reconnects()));
    if (latency.count() > 0) {
        std::printf("OnQuote to Redis's confirmation: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    ms(latency.percentile(0.5)), ms(latency.percentile(0.99)), ms(latency.max()));
    }
}

// Logs in and registers; "" or why the bridge cannot publish.
std::string open_session(OrvQuoteApi* api, session_sink& sink, const bridge_options& o) {
    std::string error = log_in(api, sink, o.session, g_stop);
    if (!error.empty() || g_stop.load()) return error.empty() ? "stopped" : error;
    std::vector<std::string> unlisted;
    const int registered = register_wanted(api, o.session, sink.state(), unlisted);
    for (const std::string& name : unlisted) {
        std::fprintf(stderr, "quote_bridge: %s is not in the server's list\n", name.c_str());
    }
    return registered > 0 ? std::string() : "nothing to publish";
}

int bridge(const bridge_options& o) {
    const redis_login login{o.redis_host, o.redis_port, o.redis_user, o.redis_password};
    redis_link link;
    if (!link.open(login)) {
        std::fprintf(stderr, "quote_bridge: Redis at %s: %s\n", o.redis_address().c_str(),
                     link.error().c_str());
        return 1;
    }
    const steady::time_point start = steady::now();
    capture::capture_queue queue(o.queue);
    bridge_publisher publisher(queue, std::move(link), login, {o.prefix, o.maxlen});
    session_sink sink(queue, [&publisher](session_event event, int count) {
        publisher.post(session_entry(event, count));
    });
    const std::string server = o.session.server_address();
    publisher.start({"started", wall_clock_ns(), "from " + server + " as " + o.session.user, {}});

    OrvQuoteApi* api = CreateOrvQuoteApi();
    const std::string error = open_session(api, sink, o);
    if (error.empty()) {
        std::printf("publishing quotes from %s to Redis at %s, prefix %s; Ctrl-C stops\n",
                    server.c_str(), o.redis_address().c_str(), o.prefix.c_str());
        std::fflush(stdout);
        status_mark last;
        wait_for_end(
            sink, o.session, g_stop, start, [] { return false; }, o.status_every_s,
            [&](double elapsed) { print_status(sink, publisher, elapsed, last); });
    }
    // After DestroyOrvQuoteApi no quote arrives, so the queue can be closed and drained.
    api->Disconnect();
    DestroyOrvQuoteApi(api);
    const bool ended = sink.state().ended;
    publisher.finish(!error.empty() ? error : ended ? "the quote session ended" : "stopped");
    if (!error.empty()) {
        std::fprintf(stderr, "quote_bridge: %s\n", error.c_str());
        return 1;
    }
    print_summary(sink, publisher, o, seconds_since(start));
    if (ended) {
        std::fprintf(stderr,
                     "quote_bridge: the quote server refused the login after a lost connection\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bridge_options options;
    const std::string error =
        parse_bridge_options(argc, argv, std::getenv(redis_password_variable), options);
    const int status = help_or_complaint("quote_bridge", options.help, bridge_usage(), error);
    if (status >= 0) return status;
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    return bridge(options);
}
