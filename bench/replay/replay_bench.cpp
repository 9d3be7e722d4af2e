// The replay's sending side at full speed, against the flood sender of e2e_bench (prebuilt
// writes of 64 quotes through the simulator's server), both into one plain receiver that cuts
// the stream and counts quotes. The replay reads a capture of `count` quotes from disk, turns
// each record into its wire message and writes through the simulator's engine.
//
//   replay_bench            1,000,000 quotes (a 354 MB capture in the temp folder), 3 runs each
//   replay_bench --smoke    20,000 quotes, one run each
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "protocol/stream_cutter.h"
#include "protocol/wire.h"
#include "capture/capture_writer.h"
#include "sim/messages.h"
#include "sim/quote_server.h"
#include "sim/quote_stream.h"
#include "sim/replay_source.h"
#include "sim/sample_data.h"
#include "tools/md5.h"

namespace {

using steady = std::chrono::steady_clock;

double seconds_since(steady::time_point start) {
    return std::chrono::duration<double>(steady::now() - start).count();
}

// Receives until `target` quotes have come, cutting whole messages out of 64 KB reads. Its own
// thread receives; the driver waits for done() with a bound.
class counting_receiver {
public:
    counting_receiver(std::uint16_t port, std::uint64_t target) : m_target(target) {
        m_socket = platform::socket_open_tcp();
        m_connected = m_socket != platform::invalid_socket &&
                      platform::socket_connect(m_socket, "127.0.0.1", port);
        if (m_connected) m_thread = std::thread([this] { run(); });
    }
    ~counting_receiver() {
        if (m_socket != platform::invalid_socket) platform::socket_shutdown(m_socket, true);
        if (m_thread.joinable()) m_thread.join();
        if (m_socket != platform::invalid_socket) platform::socket_close(m_socket);
    }

    bool connected() const { return m_connected; }
    bool send(const void* bytes, std::size_t length) {
        return platform::socket_send(m_socket, static_cast<const char*>(bytes),
                                     static_cast<int>(length)) == static_cast<int>(length);
    }
    // Waits up to `seconds` for the last quote; its arrival time.
    bool wait_done(double seconds, steady::time_point& at) const {
        const steady::time_point limit =
            steady::now() +
            std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(seconds));
        while (!m_done.load() && steady::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        at = m_done_at;
        return m_done.load();
    }

private:
    void run() {
        std::vector<char> buffer(1 << 16);
        std::size_t have = 0;
        std::uint64_t quotes = 0;
        for (;;) {
            const int n = platform::socket_recv(m_socket, buffer.data() + have,
                                                static_cast<int>(buffer.size() - have));
            if (n <= 0) return;
            have += static_cast<std::size_t>(n);
            std::size_t at = 0;
            for (;;) {
                const message_cut cut =
                    cut_message(buffer.data() + at, static_cast<std::uint32_t>(have - at),
                                message_source::server);
                if (cut.length == 0 && have > at) return;  // a stream it cannot cut
                if (!cut.whole) break;
                if (buffer[at] == 'Q' && ++quotes == m_target) {
                    m_done_at = steady::now();
                    m_done.store(true);
                }
                at += cut.length;
            }
            std::memmove(buffer.data(), buffer.data() + at, have - at);
            have -= at;
        }
    }

    const std::uint64_t m_target;
    platform::socket_t m_socket = platform::invalid_socket;
    bool m_connected = false;
    std::atomic<bool> m_done{false};
    steady::time_point m_done_at;
    std::thread m_thread;
};

bool write_capture(const std::string& path, std::uint64_t count) {
    capture::capture_writer writer;
    if (!writer.open(path, {capture::capture_version, 0, "replay_bench"})) return false;
    capture::capture_record record;
    record.exchange_code = '2';
    for (std::uint64_t i = 0; i < count; ++i) {
        record.receive_ns = 1700000000000000000 + static_cast<std::int64_t>(i) * 1000;
        record.quote = sim::make_quote("SIMA01", static_cast<int>(i % 64));
        if (!writer.write(record)) return false;
    }
    return writer.close();
}

// Quotes per second of the flood sender: writes of 64 prebuilt quotes.
double flood_run(sim::quote_server& server, std::uint64_t count) {
    const std::size_t connection = server.accepted_count();
    counting_receiver receiver(server.port(), count);
    if (!receiver.connected() || !server.wait_accepted(connection + 1, 5000)) return 0;
    std::string batch;
    for (int i = 0; i < 64; ++i) batch += sim::quote_bytes('2', sim::make_quote("SIMA01", i));
    const steady::time_point start = steady::now();
    for (std::uint64_t sent = 0; sent < count; sent += 64) {
        const std::uint64_t n = std::min<std::uint64_t>(64, count - sent);
        if (!server.send_raw(connection, n == 64 ? batch : batch.substr(0, n * QUOTE_MSG_LEN))) {
            return 0;
        }
    }
    steady::time_point done;
    if (!receiver.wait_done(60, done)) return 0;
    server.drop(connection);
    return static_cast<double>(count) / std::chrono::duration<double>(done - start).count();
}

// Quotes per second of a replay at full speed: from the register request to the last quote.
double replay_run(const sim::quote_stream& stream, std::uint64_t count) {
    counting_receiver receiver(stream.port(), count);
    if (!receiver.connected()) return 0;
    char digest[33];
    KESTRO::TOOLS::md5_hex("demo", 4, digest);
    oqs_login_req login;
    build_login_req(login, "demo", digest);
    oqs_reg_symbol_req registration;
    build_reg_symbol_req(registration, 'N', '2', "SIMA01");
    if (!receiver.send(&login, sizeof login)) return 0;
    const steady::time_point start = steady::now();
    if (!receiver.send(&registration, sizeof registration)) return 0;
    steady::time_point done;
    if (!receiver.wait_done(120, done)) return 0;
    return static_cast<double>(count) / std::chrono::duration<double>(done - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    if (argc > 2 || (argc == 2 && !smoke)) {
        std::fprintf(stderr, "usage: replay_bench [--smoke]\n");
        return 2;
    }
    const std::uint64_t count = smoke ? 20000 : 1000000;
    const int runs = smoke ? 1 : 3;
    const char* folder = std::getenv("TMPDIR");
    const std::string path = std::string(folder != nullptr ? folder : "/tmp") + "/replay_bench_" +
                             std::to_string(count) + ".oqcap";
    const steady::time_point writing = steady::now();
    if (!write_capture(path, count)) {
        std::fprintf(stderr, "replay_bench: cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("capture of %llu quotes written in %.1f s\n",
                static_cast<unsigned long long>(count), seconds_since(writing));

    sim::sim_options options;
    options.port = 0;
    options.heartbeat_seconds = 0;
    std::string error, warning;
    auto source = sim::replay_source::open({path, 0, false}, error, warning);
    if (!source) {
        std::fprintf(stderr, "replay_bench: %s\n", error.c_str());
        return 1;
    }
    sim::quote_stream stream(options, nullptr, std::move(source));
    sim::quote_server flood_server;
    std::vector<double> replay, flood;
    for (int i = 0; i < runs; ++i) {
        flood.push_back(flood_run(flood_server, count));
        replay.push_back(replay_run(stream, count));
    }
    std::remove(path.c_str());
    const bool complete = std::find(flood.begin(), flood.end(), 0.0) == flood.end() &&
                          std::find(replay.begin(), replay.end(), 0.0) == replay.end();
    const double ratio = median(flood) > 0 ? median(replay) / median(flood) : 0;
    std::printf("| %-50s | %14s |\n", "sender, one plain receiver", "quotes/s");
    std::printf("| %-50s | %14.0f |\n", "flood (writes of 64 prebuilt quotes)", median(flood));
    std::printf("| %-50s | %14.0f |\n", "oqs_sim --replay --speed max, from disk", median(replay));
    std::printf("replay / flood: %.2f (the replay is meant to reach 0.5 or more)\n", ratio);
    if (!complete) std::fprintf(stderr, "replay_bench: quotes went missing\n");
    return complete ? 0 : 1;
}
