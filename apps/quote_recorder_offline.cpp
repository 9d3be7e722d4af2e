#include "quote_recorder_offline.h"

#include <algorithm>
#include <cstdio>

#include "quote_recorder_csv.h"
#include "capture/capture_reader.h"
#include "capture/capture_summary.h"

namespace {

bool complain(const std::string& what) {
    std::fprintf(stderr, "quote_recorder: %s\n", what.c_str());
    return false;
}

void print_summary(const capture::capture_summary& summary) {
    std::printf("%llu quotes\n", static_cast<unsigned long long>(summary.quotes));
    std::size_t width = 6;
    for (const auto& s : summary.symbols) width = std::max(width, s.symbol.size());
    std::printf("%-*s  %8s  %-26s  %-26s\n", static_cast<int>(width), "symbol", "quotes",
                "first (UTC)", "last (UTC)");
    for (const auto& s : summary.symbols) {
        std::printf("%-*s  %8llu  %-26s  %-26s\n", static_cast<int>(width), s.symbol.c_str(),
                    static_cast<unsigned long long>(s.quotes), utc_text(s.first_ns, 6).c_str(),
                    utc_text(s.last_ns, 6).c_str());
    }
    std::printf("recorded from %s, started %s UTC\n", summary.header.server.c_str(),
                utc_text(summary.header.start_ns, 3).c_str());
    std::printf("longest pause between quotes: %.3f s, after %s UTC\n",
                static_cast<double>(summary.longest_gap_ns) / 1e9,
                utc_text(summary.gap_start_ns, 6).c_str());
}

// Streams the capture into the CSV file; false with the reason printed.
bool convert(const std::string& capture, const std::string& csv_path, std::uint64_t& rows) {
    capture::capture_reader reader;
    if (!reader.open(capture)) return complain(reader.error());
    csv_file csv;
    if (!csv.open(csv_path)) return complain(csv.error());
    capture::capture_record record;
    while (reader.next(record)) {
        if (!csv.write(record)) return complain(csv.error());
        ++rows;
    }
    if (!reader.error().empty()) return complain(reader.error());
    return csv.close() || complain(csv.error());
}

}  // namespace

int read_capture(const std::string& capture, bool print, const std::string& csv_path) {
    const capture::capture_summary summary = capture::summarize_capture(capture);
    if (!summary.error.empty()) {
        complain(summary.error);
        return 1;
    }
    if (summary.quotes == 0) {
        complain(capture + ": the capture holds no quotes" +
                 (summary.cut_short ? " (it ends inside its first record)" : ""));
        return 1;
    }
    if (print) print_summary(summary);
    if (!csv_path.empty()) {
        std::uint64_t rows = 0;
        if (!convert(capture, csv_path, rows)) return 1;
        std::fprintf(print ? stderr : stdout, "%llu quotes written to %s\n",
                     static_cast<unsigned long long>(rows), csv_path.c_str());
    }
    if (summary.cut_short) {
        std::fprintf(stderr,
                     "quote_recorder: warning: %s ends inside a record (the recorder stopped "
                     "while writing it); read up to the last whole record\n",
                     capture.c_str());
        return 3;
    }
    return 0;
}
