// The two C++ sides of the Python benchmark (batches_bench.py):
//
//   flood_peer serve QUOTES       a quote server on 127.0.0.1: prints "port N", then sends
//                                 QUOTES quotes of SIMA01, as fast as the connection takes
//                                 them, to every client right after it registers the symbol;
//                                 ends when its standard input closes
//   flood_peer sink PORT QUOTES   the C++ receiver: a client through the public API whose
//                                 OnQuote only counts; prints "QUOTES_PER_S CPU_NS_PER_QUOTE"
//
// Both receivers are measured alike, each in a process of its own: from the first quote to the
// last, wall time and the whole process's CPU time (the library's threads and the
// application's), so that the Python row and the C++ row compare the same things.

#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "orv_quote_api.h"
#include "sim/messages.h"
#include "sim/quote_server.h"
#include "sim/sample_data.h"

namespace {

constexpr std::size_t quotes_per_write = 256;

std::int64_t process_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::int64_t wall_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int serve(std::uint64_t quotes) {
    sim::quote_server server;
    std::string block;
    for (std::size_t i = 0; i < quotes_per_write; ++i)
        block += sim::quote_bytes('2', sim::make_quote("SIMA01", static_cast<int>(i)));
    std::printf("port %u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        while (std::getchar() != EOF) {
        }
        stop.store(true);
    });
    for (std::size_t served = 0; !stop.load();) {
        if (!server.wait_request('N', served + 1, 200)) continue;
        const std::size_t connection = server.requests_of('N')[served++].connection;
        const std::size_t quote_size = block.size() / quotes_per_write;
        for (std::uint64_t sent = 0; sent < quotes;) {
            const std::uint64_t n = std::min<std::uint64_t>(quotes_per_write, quotes - sent);
            if (!server.send_raw(connection,
                                 n == quotes_per_write ? block : block.substr(0, n * quote_size)))
                break;
            sent += n;
        }
    }
    watcher.join();
    return 0;
}

// Counts quotes; the first and the last stamp the clocks.
class counting_sink : public OrvQuoteEventSink {
public:
    explicit counting_sink(std::uint64_t target) : m_target(target) {}

    void OnLoginReply(bool success, const char*) override { notify(m_login, success ? 1 : 2); }
    void OnQuote(int, const OrvMarketDepthQuoteData*) override {
        const std::uint64_t n = ++m_count;
        if (n == 1) {
            m_first_ns = wall_ns();
            m_first_cpu = process_cpu_ns();
        } else if (n == m_target) {
            m_last_ns = wall_ns();
            m_last_cpu = process_cpu_ns();
            notify(m_done, 1);
        }
    }

    // Waits until `flag` is set, at most 60 s; its value, 0 on time-out.
    int wait(const int& flag) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return flag != 0; });
        return flag;
    }

    int m_login = 0, m_done = 0;  // guarded by m_mutex
    std::int64_t m_first_ns = 0, m_first_cpu = 0, m_last_ns = 0, m_last_cpu = 0;

private:
    void notify(int& flag, int value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        flag = value;
        m_changed.notify_all();
    }

    const std::uint64_t m_target;
    std::atomic<std::uint64_t> m_count{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

int sink(int port, std::uint64_t quotes) {
    counting_sink counter(quotes);
    OrvQuoteApi* api = CreateOrvQuoteApi();
    OqsTcpInfo server;
    std::snprintf(server.ServerIp, sizeof server.ServerIp, "127.0.0.1");
    server.ServerPort = static_cast<std::uint16_t>(port);
    OrvLoginInfo login;
    std::snprintf(login.UserId, sizeof login.UserId, "bench");
    bool ok = api->ConnServer(server, &counter);
    if (ok) {
        api->LoginToOqs(login);
        ok = counter.wait(counter.m_login) == 1;
    }
    if (ok) {
        api->RegisterSymbol('2', "SIMA01");
        ok = counter.wait(counter.m_done) == 1;
    }
    DestroyOrvQuoteApi(api);
    if (!ok) {
        std::fprintf(stderr, "flood_peer: the C++ sink did not get its %llu quotes\n",
                     static_cast<unsigned long long>(quotes));
        return 1;
    }
    const double seconds = static_cast<double>(counter.m_last_ns - counter.m_first_ns) / 1e9;
    std::printf("%.0f %.1f\n", static_cast<double>(quotes - 1) / seconds,
                static_cast<double>(counter.m_last_cpu - counter.m_first_cpu) /
                    static_cast<double>(quotes - 1));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "serve" && argc == 3) return serve(std::strtoull(argv[2], nullptr, 10));
    if (mode == "sink" && argc == 4)
        return sink(std::atoi(argv[2]), std::strtoull(argv[3], nullptr, 10));
    std::fprintf(stderr, "usage: flood_peer serve QUOTES | flood_peer sink PORT QUOTES\n");
    return 2;
}
