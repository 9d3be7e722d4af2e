// The soak program: many sessions of one client against the simulator, watching the process's
// threads, open descriptors and resident memory for growth. A cycle connects, logs in,
// registers two symbols, waits for their quotes and disconnects; every tenth cycle the server
// drops the connection first and the automatic reconnect must restore both registrations.
// Every 25 cycles the client is destroyed and a new one created.
//
// Usage: soak MINUTES. From cycle 30 on, every tenth cycle is sampled (where /proc exists)
// against the first sample. Exits 1 when a cycle fails or a sample grows beyond the tolerance,
// 2 on a bad argument.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "orv_quote_api.h"
#include "platform/process.h"
#include "sim/quote_server.h"
#include "support/recording_sink.h"

namespace {

constexpr std::size_t quotes_per_register = 5;
constexpr long warmup_cycles = 30;

// Threads, descriptors (or handles) and resident KiB; -1 where the system does not tell.
struct sample {
    long threads = -1, fds = -1, rss_kb = -1;
};

sample take_sample() {
    sample s{platform::process_thread_count(), platform::process_handle_count()};
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        if (key == "VmRSS:") status >> s.rss_kb;
    }
    return s;
}

// One session; returns the step that failed, or nullptr. The sink starts empty.
const char* run_cycle(OrvQuoteApi* api, recording_sink& sink, long cycle) {
    sim::server_setup setup;  // a fresh server per cycle keeps its records out of the sample
    setup.script.quotes_after_register = quotes_per_register;
    sim::quote_server server(setup);
    OqsTcpInfo address;
    std::strcpy(address.ServerIp, server.ip());
    address.ServerPort = server.port();
    OrvLoginInfo login;
    std::strcpy(login.UserId, "soak");
    std::strcpy(login.Password, "soak");

    // Both symbols registered and quoted `times` times over.
    auto served = [&](std::size_t times) {
        return sink.wait_count(sink_event::REGISTER, 2 * times, 15000) &&
               sink.wait_count(sink_event::QUOTE, 2 * times * quotes_per_register, 15000);
    };
    if (!api->ConnServer(address, &sink)) return "ConnServer";
    api->LoginToOqs(login);
    if (!sink.wait_count(sink_event::LOGIN, 1, 15000)) return "login";
    api->RegisterSymbol('2', "SIMA01");
    api->RegisterSymbol('1', "Au(T+D)");
    if (!served(1)) return "register and quotes";
    if (cycle % 10 == 0) {
        // The worker reconnects after its 2 s pause, logs in and registers both symbols again,
        // without telling the application of the lost connection.
        const std::size_t disconnects = sink.count(sink_event::DISCONNECTED);
        server.drop_all(cycle % 20 == 0);
        if (!server.wait_accepted(2, 15000) || !served(2)) return "reconnect";
        if (sink.count(sink_event::DISCONNECTED) != disconnects) return "silent reconnect";
    }
    api->Disconnect();
    return server.wait_open_count(0, 5000) ? nullptr : "Disconnect closes";
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc == 2 ? std::atof(argv[1]) : 0;
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: soak MINUTES\n");
        return 2;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(minutes * 60000.0));
    recording_sink sink;
    OrvQuoteApi* api = nullptr;
    sample baseline;
    int status = 0;
    long cycle = 1;
    for (; status == 0 && std::chrono::steady_clock::now() < deadline; ++cycle) {
        if (api == nullptr) api = CreateOrvQuoteApi();
        sink.clear();  // the events of one cycle at a time, so that they do not grow
        if (const char* failed = run_cycle(api, sink, cycle)) {
            std::fprintf(stderr, "soak: cycle %ld failed at: %s\n", cycle, failed);
            status = 1;
        }
        if (cycle % 25 == 0) {
            DestroyOrvQuoteApi(api);
            api = nullptr;
        }
        if (cycle < warmup_cycles || cycle % 10 != 0) continue;
        const sample now = take_sample();
        std::printf("soak: cycle %ld threads %ld fds %ld rss_kb %ld\n", cycle, now.threads, now.fds,
                    now.rss_kb);
        std::fflush(stdout);
        if (cycle == warmup_cycles) {
            baseline = now;
        } else if (now.threads > baseline.threads + 2 || now.fds > baseline.fds + 4 ||
                   now.rss_kb > baseline.rss_kb + 8 * 1024) {
            // Beyond a closing thread or descriptor in flight and the allocator's slack.
            std::fprintf(stderr, "soak: growth over threads %ld fds %ld rss_kb %ld\n",
                         baseline.threads, baseline.fds, baseline.rss_kb);
            status = 1;
        }
    }
    DestroyOrvQuoteApi(api);
    std::printf("soak: %s after %ld cycles\n", status == 0 ? "passed" : "FAILED", cycle - 1);
    return status;
}
