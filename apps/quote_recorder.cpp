// quote_recorder: keeps what a quote server sends. It logs in with the library, registers the
// symbols asked for (or every listed one), and writes each quote as it arrives to a capture
// file, and to CSV if asked, until Ctrl-C or --seconds; the library's reconnects are ridden
// through. It also sums up (--print) and converts (--to-csv) captures; oqs_sim --replay serves
// a capture again.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "orv_quote_api.h"
#include "platform/console.h"
#include "quote_recorder_csv.h"
#include "quote_recorder_offline.h"
#include "quote_recorder_sink.h"
#include "quote_recorder_writer.h"
#include "capture/capture_queue.h"
#include "capture/capture_writer.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void on_signal(int) {
    g_stop.store(true);
}

using steady = std::chrono::steady_clock;

// Quotes the hand-over holds for the writer (about 12 MB, twice: the writer works on the
// other half), a few hundred milliseconds of the fastest stream a server sends, before a
// stalled disk costs quotes.
constexpr std::size_t queue_capacity = 32768;
constexpr int status_every_s = 5;

struct recorder_options {
    std::string server_ip = "127.0.0.1";
    std::uint16_t server_port = 7100;
    std::string user = "demo";
    std::string password = "demo";
    double seconds = 0;  // 0: until Ctrl-C
    bool all = false;
    std::vector<std::string> symbols;
    std::string out;
    std::string csv;
    std::string capture;  // a capture to read instead of recording
    bool print = false;   // sum it up
    std::string to_csv;   // convert it to this CSV file
    bool help = false;
};

constexpr const char* usage =
    "Usage: quote_recorder [options] --out FILE.oqcap (--all | SYMBOL ...)\n"
    "       quote_recorder --print FILE.oqcap\n"
    "       quote_recorder --to-csv FILE.csv FILE.oqcap\n"
    "Records every quote of the symbols named (or of every listed symbol) to a capture file\n"
    "until Ctrl-C or --seconds; oqs_sim --replay FILE.oqcap serves it again.\n"
    "\n"
    "  --server IP:PORT   the quote server (default 127.0.0.1:7100)\n"
    "  --user NAME        user id (default demo)\n"
    "  --password TEXT    password (default demo); only its MD5 digest is sent\n"
    "  --seconds N        stop after N seconds (default: run until Ctrl-C)\n"
    "  --all              register every symbol the server lists\n"
    "  --out FILE         the capture to write (replaced if it exists)\n"
    "  --csv FILE         also write every quote as a CSV row\n"
    "  --print FILE       sum up a capture: quotes, and per symbol count, first and last time\n"
    "  --to-csv FILE      convert a capture to CSV\n"
    "  -h, --help         this text\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 bad command line, 3 the capture ends inside a record\n"
    "(a recorder stopped while writing it); everything before that record was read.\n";

std::string check(recorder_options& o) {
    if (o.print || !o.to_csv.empty()) {
        // The capture is --print's, or the one file named after --to-csv.
        if (o.capture.empty() && o.symbols.size() == 1) o.capture = o.symbols.front();
        if (o.capture.empty()) return "--to-csv wants FILE.csv and then the capture to convert";
        const bool named_after = o.symbols.size() == 1 && o.symbols.front() == o.capture;
        if (!o.symbols.empty() && !named_after) return "one capture at a time";
        return {};
    }
    if (o.user.size() > 15) return "--user: at most 15 characters";
    if (o.password.size() > 32) return "--password: at most 32 characters";
    if (o.out.empty()) return "--out FILE.oqcap names the capture to write";
    if (!o.all && o.symbols.empty()) return "name the symbols to record, or --all";
    return {};
}

// The options, or an error text.
std::string parse(int argc, char** argv, recorder_options& o) {
    const char* const valued[] = {"--server", "--user", "--password", "--seconds",
                                  "--out",    "--csv",  "--print",    "--to-csv"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--all") {
            o.all = true;
        } else if (std::find(std::begin(valued), std::end(valued), arg) != std::end(valued)) {
            if (i + 1 >= argc) return arg + " wants a value";
            const std::string value = argv[++i];
            if (arg == "--server" && !parse_server(value, o.server_ip, o.server_port)) {
                return "--server wants IP:PORT";
            }
            if (arg == "--seconds" && !parse_positive(value, o.seconds)) {
                return "--seconds wants a positive number";
            }
            if (arg == "--user") o.user = value;
            if (arg == "--password") o.password = value;
            if (arg == "--out") o.out = value;
            if (arg == "--csv") o.csv = value;
            if (arg == "--print") {
                o.print = true;
                o.capture = value;
            }
            if (arg == "--to-csv") o.to_csv = value;
        } else if (arg.rfind("-", 0) == 0) {
            return "unknown option " + arg;
        } else {
            o.symbols.push_back(arg);
        }
    }
    return o.help ? std::string() : check(o);
}

double seconds_since(steady::time_point start) {
    return std::chrono::duration<double>(steady::now() - start).count();
}

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Registers what was asked for among what the server lists; the number registered.
int register_wanted(OrvQuoteApi* api, const recorder_options& o, const recorder_state& state) {
    int count = 0;
    for (const auto& listed : state.symbols) {
        const bool wanted = o.all || std::find(o.symbols.begin(), o.symbols.end(), listed.second) !=
                                         o.symbols.end();
        if (!wanted) continue;
        api->RegisterSymbol(listed.first, listed.second.c_str());
        ++count;
    }
    for (const std::string& name : o.symbols) {
        const bool listed = std::any_of(state.symbols.begin(), state.symbols.end(),
                                        [&](const auto& s) { return s.second == name; });
        if (!listed)
            std::fprintf(stderr, "quote_recorder: %s is not in the server's list\n", name.c_str());
    }
    return count;
}

// Connects, logs in and fetches the symbol list; false (with the reason printed) when that
// fails.
bool log_in(OrvQuoteApi* api, recorder_sink& sink, const recorder_options& o,
            const std::string& address) {
    OqsTcpInfo server;
    std::snprintf(server.ServerIp, sizeof server.ServerIp, "%s", o.server_ip.c_str());
    server.ServerPort = o.server_port;
    if (!api->ConnServer(server, &sink)) {
        std::fprintf(stderr, "quote_recorder: cannot connect to %s\n", address.c_str());
        return false;
    }
    OrvLoginInfo login;
    std::snprintf(login.UserId, sizeof login.UserId, "%s", o.user.c_str());
    std::snprintf(login.Password, sizeof login.Password, "%s", o.password.c_str());
    api->LoginToOqs(login);
    // The library reports the login once the symbol list is in, or gives up after 5 s.
    const auto wait = [&](bool (*done)(const recorder_state&), int timeout_ms) {
        const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
        while (!g_stop.load() && steady::now() < deadline) {
            if (sink.wait_for(done, 200)) return true;
        }
        return false;
    };
    if (!wait([](const recorder_state& s) { return s.login_done; }, 15000)) {
        if (!g_stop.load()) std::fprintf(stderr, "quote_recorder: no answer to the login\n");
        return false;
    }
    if (!sink.state().login_ok) {
        std::fprintf(stderr, "quote_recorder: login failed: %s\n", sink.state().login_text.c_str());
        return false;
    }
    api->QuerySymbolList();
    return wait([](const recorder_state& s) { return s.list_done; }, 10000);
}

void print_status(const recorder_sink& sink, const recorder_writer& writer,
                  const capture::capture_queue& queue, double elapsed, std::uint64_t& last_count,
                  double& last_time) {
    const std::uint64_t count = sink.received();
    const double rate =
        elapsed > last_time ? static_cast<double>(count - last_count) / (elapsed - last_time) : 0;
    std::printf("%6.0f s  %llu quotes  %.0f/s  %d reconnects  %.1f MB  %llu dropped\n", elapsed,
                static_cast<unsigned long long>(count), rate, sink.state().reconnects,
                static_cast<double>(writer.capture_size()) / 1e6,
                static_cast<unsigned long long>(queue.dropped()));
    std::fflush(stdout);
    last_count = count;
    last_time = elapsed;
}

void print_summary(const recorder_sink& sink, const recorder_writer& writer,
                   const capture::capture_queue& queue, const recorder_options& o, double elapsed) {
    const std::uint64_t written = writer.written();
    std::printf("\n== summary\nquotes recorded: %llu in %.1f s (%.1f per second) to %s (%.1f MB)\n",
                static_cast<unsigned long long>(written), elapsed,
                elapsed > 0 ? static_cast<double>(written) / elapsed : 0.0, o.out.c_str(),
                static_cast<double>(writer.capture_size()) / 1e6);
    for (const auto& entry : writer.per_symbol()) {
        std::printf("  %-12s %llu\n", entry.first.c_str(),
                    static_cast<unsigned long long>(entry.second));
    }
    std::printf("reconnects: %d\n", sink.state().reconnects);
    std::printf("dropped (the writer fell behind): %llu\n",
                static_cast<unsigned long long>(queue.dropped()));
}

// Opens the capture (and the CSV file) and starts the writer; null with the reason printed.
std::unique_ptr<recorder_writer> start_writing(const recorder_options& o,
                                               const std::string& address,
                                               capture::capture_queue& queue,
                                               capture::capture_writer& capture, csv_file& csv) {
    if (!capture.open(o.out, {capture::capture_version, now_ns(), address})) {
        std::fprintf(stderr, "quote_recorder: %s\n", capture.error().c_str());
        return nullptr;
    }
    if (!o.csv.empty() && !csv.open(o.csv)) {
        std::fprintf(stderr, "quote_recorder: %s\n", csv.error().c_str());
        return nullptr;
    }
    auto writer = std::make_unique<recorder_writer>(queue, capture, o.csv.empty() ? nullptr : &csv);
    writer->start();
    return writer;
}

// Until Ctrl-C, the end of --seconds or a failed write, with a status line now and then.
void keep_recording(const recorder_options& o, const recorder_sink& sink,
                    const recorder_writer& writer, const capture::capture_queue& queue,
                    steady::time_point start) {
    const bool terminal = platform::stdout_is_terminal();
    std::uint64_t last_count = 0;
    double last_time = 0, next_status = status_every_s;
    // The handler only sets the flag, so this thread looks at it a few times a second.
    while (!g_stop.load() && !writer.failed() &&
           (o.seconds <= 0 || seconds_since(start) < o.seconds)) {
        sink.wait_for([](const recorder_state&) { return false; }, 200);
        if (terminal && seconds_since(start) >= next_status) {
            print_status(sink, writer, queue, seconds_since(start), last_count, last_time);
            next_status += status_every_s;
        }
    }
}

int record(const recorder_options& o) {
    const std::string address = o.server_ip + ":" + std::to_string(o.server_port);
    const steady::time_point start = steady::now();
    capture::capture_queue queue(queue_capacity);
    recorder_sink sink(queue);
    capture::capture_writer capture;
    csv_file csv;
    std::unique_ptr<recorder_writer> writer;

    OrvQuoteApi* api = CreateOrvQuoteApi();
    // The files are opened once the server has answered, so that a server that cannot be
    // reached leaves an earlier capture of the same name alone; and before the registrations,
    // so that the first quote finds the writer running.
    if (log_in(api, sink, o, address)) writer = start_writing(o, address, queue, capture, csv);
    const bool recording = writer && register_wanted(api, o, sink.state()) > 0;
    if (writer && !recording) std::fprintf(stderr, "quote_recorder: nothing to record\n");
    if (recording) {
        std::printf("recording from %s to %s; Ctrl-C stops\n", address.c_str(), o.out.c_str());
        std::fflush(stdout);
        keep_recording(o, sink, *writer, queue, start);
    }
    // After DestroyOrvQuoteApi no quote arrives, so the queue can be closed and drained.
    api->Disconnect();
    DestroyOrvQuoteApi(api);
    if (!writer) return 1;
    writer->finish();
    if (recording) print_summary(sink, *writer, queue, o, seconds_since(start));
    if (!writer->error().empty()) {
        std::fprintf(stderr, "quote_recorder: %s\n", writer->error().c_str());
        return 1;
    }
    return recording ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    recorder_options options;
    const std::string error = parse(argc, argv, options);
    if (options.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "quote_recorder: %s\nTry 'quote_recorder --help'.\n", error.c_str());
        return 2;
    }
    if (!options.capture.empty()) {
        return read_capture(options.capture, options.print, options.to_csv);
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    return record(options);
}
