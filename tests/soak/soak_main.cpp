// The soak program: many sessions of one client against the simulator, watching the process's
// threads, open descriptors and resident memory for growth. Most cycles are connect, login,
// register, quotes, Disconnect; every tenth also drops the connection from the server's side
// and checks that the automatic reconnect restores the registrations before the Disconnect.
// Every 25 cycles the client is destroyed and a new one created.
//
// Usage: soak [--cycles N] [--minutes M] [--sample-every K] [--warmup W]
//   Runs N cycles (default 1000) or until M minutes have passed, whichever comes first (with
//   --minutes alone, only the time bounds it). Samples every K cycles (default 100); the first
//   sample at or after cycle W (default K) is the baseline. Exits 1 when a cycle fails or a
//   sample grows beyond the tolerance over the baseline, 2 on bad arguments.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "orv_quote_api.h"
#include "sim/quote_server.h"

namespace {

constexpr int quotes_per_register = 5;
constexpr int cycles_per_client = 25;
constexpr int drop_every = 10;
// Growth allowed over the baseline: a closing thread or descriptor in flight, and the
// allocator's slack.
constexpr long thread_tolerance = 2;
constexpr long fd_tolerance = 4;
constexpr long rss_tolerance_kb = 8 * 1024;

struct options {
    long cycles = 1000;
    bool cycles_given = false;
    double minutes = 0;
    long sample_every = 100;
    long warmup = -1;
};

// Counts what a cycle waits for; every call may come from any library thread.
class soak_sink : public OrvQuoteEventSink {
public:
    struct counts {
        long connected = 0, disconnected = 0, logins = 0, refusals = 0, registered = 0, quotes = 0;
    };

    void OnServerConnected() override { bump(&counts::connected); }
    void OnServerDisconnected() override { bump(&counts::disconnected); }
    void OnLoginReply(bool success, const char*) override {
        bump(success ? &counts::logins : &counts::refusals);
    }
    void OnQuote(int, const OrvMarketDepthQuoteData*) override { bump(&counts::quotes); }
    void OnRegisterReply(int, const char*, bool success) override {
        if (success) bump(&counts::registered);
    }

    counts now() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_counts;
    }
    template <class Condition>
    bool wait(Condition condition, int timeout_ms = 15000) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return condition(m_counts); });
    }

private:
    void bump(long counts::*field) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            ++(m_counts.*field);
        }
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    counts m_counts;
};

// The process's resources as the kernel's /proc shows them; absent (-1) where there is no
// /proc.
struct sample {
    long threads = -1;
    long fds = -1;
    long rss_kb = -1;
};

long count_entries(const char* directory) {
    std::error_code error;
    long n = 0;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        ++n;
    }
    return error ? -1 : n;
}

sample take_sample() {
    sample s;
    if (!std::filesystem::exists("/proc/self/statm")) return s;
    s.threads = count_entries("/proc/self/task");
    s.fds = count_entries("/proc/self/fd");
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    if (statm >> size >> resident) s.rss_kb = resident * 4;  // 4 KiB pages on the targets we soak
    return s;
}

// Whether /proc describes this very process: a thread started here must show up in its
// thread count. Under an emulation layer /proc may exist and describe something else; then
// the program cycles without judging growth.
bool proc_describes_us() {
    const long before = take_sample().threads;
    if (before < 0) return false;
    std::mutex mutex;
    std::condition_variable changed;
    bool counted = false;
    std::thread helper([&] {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return counted; });
    });
    const long during = take_sample().threads;
    {
        std::lock_guard<std::mutex> guard(mutex);
        counted = true;
    }
    changed.notify_all();
    helper.join();
    return during == before + 1;
}

bool parse(int argc, char** argv, options& out) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        if (arg == "--cycles") {
            out.cycles = std::strtol(value, &end, 10);
            out.cycles_given = true;
        } else if (arg == "--minutes") {
            out.minutes = std::strtod(value, &end);
        } else if (arg == "--sample-every") {
            out.sample_every = std::strtol(value, &end, 10);
        } else if (arg == "--warmup") {
            out.warmup = std::strtol(value, &end, 10);
        } else {
            return false;
        }
        if (end == value || *end != '\0') return false;
    }
    if (out.warmup < 0) out.warmup = out.sample_every;
    return out.cycles > 0 && out.sample_every > 0 && out.minutes >= 0;
}

// One session; returns the name of the step that failed, or nullptr.
const char* run_cycle(OrvQuoteApi* api, soak_sink& sink, long cycle) {
    sim::quote_server server;  // a fresh server per cycle keeps its records out of the sample
    server.update_script(
        [](sim::reply_script& s) { s.quotes_after_register = quotes_per_register; });
    OqsTcpInfo address;
    std::strcpy(address.ServerIp, server.ip());
    address.ServerPort = server.port();

    const soak_sink::counts start = sink.now();
    if (!api->ConnServer(address, &sink)) return "ConnServer";
    OrvLoginInfo login;
    std::strcpy(login.UserId, "soak");
    std::strcpy(login.Password, "soak");
    api->LoginToOqs(login);
    if (!sink.wait([&](const soak_sink::counts& c) { return c.logins > start.logins; }))
        return "login";
    api->RegisterSymbol('2', "SIMA01");
    api->RegisterSymbol('1', "Au(T+D)");
    if (!sink.wait([&](const soak_sink::counts& c) {
            return c.registered >= start.registered + 2 &&
                   c.quotes >= start.quotes + 2 * quotes_per_register;
        })) {
        return "register and quotes";
    }
    if (cycle % drop_every == 0) {
        // The server drops us: the worker reconnects after its 2 s pause, logs in again and
        // registers both symbols again, which brings their quotes back.
        const soak_sink::counts before = sink.now();
        server.drop_all(cycle % (2 * drop_every) == 0);
        if (!server.wait_accepted(2, 15000)) return "reconnect";
        if (!sink.wait([&](const soak_sink::counts& c) {
                return c.registered >= before.registered + 2 &&
                       c.quotes >= before.quotes + 2 * quotes_per_register;
            })) {
            return "restored registrations";
        }
        if (sink.now().disconnected != before.disconnected) return "silent reconnect";
    }
    api->Disconnect();
    if (!server.wait_open_count(0, 5000)) return "Disconnect closes";
    return nullptr;
}

bool grew(const sample& base, const sample& now) {
    return now.threads > base.threads + thread_tolerance || now.fds > base.fds + fd_tolerance ||
           now.rss_kb > base.rss_kb + rss_tolerance_kb;
}

}  // namespace

int main(int argc, char** argv) {
    options opt;
    if (!parse(argc, argv, opt)) {
        std::fprintf(stderr,
                     "usage: soak [--cycles N] [--minutes M] [--sample-every K] [--warmup W]\n");
        return 2;
    }
    const bool time_only = opt.minutes > 0 && !opt.cycles_given;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(opt.minutes * 60000.0));
    const bool judge = proc_describes_us();
    if (!judge) std::printf("soak: no usable /proc for this process; growth is not judged\n");
    soak_sink sink;
    OrvQuoteApi* api = nullptr;
    sample baseline;
    bool have_baseline = false;
    int status = 0;
    long cycle = 1;
    for (; time_only || cycle <= opt.cycles; ++cycle) {
        if (opt.minutes > 0 && std::chrono::steady_clock::now() >= deadline) break;
        if (api == nullptr) api = CreateOrvQuoteApi();
        if (const char* failed = run_cycle(api, sink, cycle)) {
            std::fprintf(stderr, "soak: cycle %ld failed at: %s\n", cycle, failed);
            status = 1;
            break;
        }
        if (cycle % cycles_per_client == 0) {
            DestroyOrvQuoteApi(api);
            api = nullptr;
        }
        if (!judge || cycle % opt.sample_every != 0) continue;
        const sample now = take_sample();
        std::printf("soak: cycle %ld threads %ld fds %ld rss_kb %ld\n", cycle, now.threads, now.fds,
                    now.rss_kb);
        std::fflush(stdout);
        if (!have_baseline) {
            if (cycle >= opt.warmup) {
                baseline = now;
                have_baseline = true;
            }
        } else if (grew(baseline, now)) {
            std::fprintf(
                stderr,
                "soak: growth over the baseline (threads %ld fds %ld rss_kb %ld) at cycle %ld\n",
                baseline.threads, baseline.fds, baseline.rss_kb, cycle);
            status = 1;
            break;
        }
    }
    DestroyOrvQuoteApi(api);
    const long done = cycle - 1;
    if (status == 0 && judge && !have_baseline) {
        std::printf("soak: %ld cycles, too few samples to judge growth\n", done);
    }
    std::printf("soak: %s after %ld cycles\n", status == 0 ? "passed" : "FAILED", done);
    return status;
}
