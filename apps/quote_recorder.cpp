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
#include "quote_recorder_writer.h"
#include "quote_session.h"
#include "capture/capture_queue.h"
#include "capture/capture_writer.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void on_signal(int) {
    g_stop.store(true);
}

// Quotes the hand-over holds for the writer (about 12 MB, twice: the writer works on the
// other half), a few hundred milliseconds of the fastest stream a server sends, before a
// stalled disk costs quotes.
constexpr std::size_t queue_capacity = 32768;
constexpr int status_every_s = 5;

struct recorder_options {
    session_options session;
    std::string out;
    std::string csv;
    std::string capture;  // a capture to read instead of recording
    bool print = false;   // sum it up
    std::string to_csv;   // convert it to this CSV file
    bool help = false;
};

constexpr const char* usage_head =
    "Usage: quote_recorder [options] --out FILE.oqcap (--all | SYMBOL ...)\n"
    "       quote_recorder --print FILE.oqcap\n"
    "       quote_recorder --to-csv FILE.csv FILE.oqcap\n"
    "Records every quote of the symbols named (or of every listed symbol) to a capture file\n"
    "until Ctrl-C or --seconds; oqs_sim --replay FILE.oqcap serves it again.\n"
    "\n";
constexpr const char* usage_tail =
    "  --out FILE         the capture to write (replaced if it exists)\n"
    "  --csv FILE         also write every quote as a CSV row\n"
    "  --print FILE       sum up a capture: quotes, and per symbol count, first and last time\n"
    "  --to-csv FILE      convert a capture to CSV\n"
    "  -h, --help         this text\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 bad command line, 3 the capture ends inside a record\n"
    "(a recorder stopped while writing it); everything before that record was read.\n";

std::string check(recorder_options& o) {
    const std::vector<std::string>& named = o.session.symbols;
    if (o.print || !o.to_csv.empty()) {
        // The capture is --print's, or the one file named after --to-csv.
        if (o.capture.empty() && named.size() == 1) o.capture = named.front();
        if (o.capture.empty()) return "--to-csv wants FILE.csv and then the capture to convert";
        const bool named_after = named.size() == 1 && named.front() == o.capture;
        if (!named.empty() && !named_after) return "one capture at a time";
        return {};
    }
    if (o.out.empty()) return "--out FILE.oqcap names the capture to write";
    return check_session(o.session);
}

// The options, or an error text.
std::string parse(int argc, char** argv, recorder_options& o) {
    const auto take = [&o](const std::string& arg, const std::string& value) {
        if (arg == "--out") o.out = value;
        if (arg == "--csv") o.csv = value;
        if (arg == "--print") {
            o.print = true;
            o.capture = value;
        }
        if (arg == "--to-csv") o.to_csv = value;
        return std::string();
    };
    const std::string error = parse_command_line(
        argc, argv, {"--out", "--csv", "--print", "--to-csv"}, take, o.session, o.help);
    return o.help || !error.empty() ? error : check(o);
}

void print_status(const session_sink& sink, const recorder_writer& writer,
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

void print_summary(const session_sink& sink, const recorder_writer& writer,
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
    if (!capture.open(o.out, {capture::capture_version, wall_clock_ns(), address})) {
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
void keep_recording(const recorder_options& o, const session_sink& sink,
                    const recorder_writer& writer, const capture::capture_queue& queue,
                    steady::time_point start) {
    std::uint64_t last_count = 0;
    double last_time = 0;
    wait_for_end(
        sink, o.session, g_stop, start, [&] { return writer.failed(); },
        platform::stdout_is_terminal() ? status_every_s : 0,
        [&](double elapsed) { print_status(sink, writer, queue, elapsed, last_count, last_time); });
}

int record(const recorder_options& o) {
    const std::string address = o.session.server_address();
    const steady::time_point start = steady::now();
    capture::capture_queue queue(queue_capacity);
    session_sink sink(queue);
    capture::capture_writer capture;
    csv_file csv;
    std::unique_ptr<recorder_writer> writer;

    OrvQuoteApi* api = CreateOrvQuoteApi();
    // The files are opened once the server has answered, so that a server that cannot be
    // reached leaves an earlier capture of the same name alone; and before the registrations,
    // so that the first quote finds the writer running.
    const std::string error = log_in(api, sink, o.session, g_stop);
    if (!error.empty()) std::fprintf(stderr, "quote_recorder: %s\n", error.c_str());
    if (error.empty() && !g_stop.load()) {
        writer = start_writing(o, address, queue, capture, csv);
    }
    std::vector<std::string> unlisted;
    const bool recording = writer && register_wanted(api, o.session, sink.state(), unlisted) > 0;
    for (const std::string& name : unlisted) {
        std::fprintf(stderr, "quote_recorder: %s is not in the server's list\n", name.c_str());
    }
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
    const int status =
        help_or_complaint("quote_recorder", options.help,
                          std::string(usage_head) + session_usage + usage_tail, error);
    if (status >= 0) return status;
    if (!options.capture.empty()) {
        return read_capture(options.capture, options.print, options.to_csv);
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    return record(options);
}
