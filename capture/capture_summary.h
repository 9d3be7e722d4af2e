// Internal to the simulator, the recorder and their tests. One pass over a capture that sums it
// up: how many quotes, which symbols with their first and last time, the longest pause, and
// whether the file ends inside a record. Plain values and a function: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_file.h"

namespace capture {

// One symbol of a capture, as its first quote shows it.
struct capture_symbol {
    std::string symbol;  // Symbol as recorded (the display name for the metals)
    char exchange_code = 0;
    std::string exchange_name;
    std::string exchange_symbol;
    std::uint64_t quotes = 0;
    std::int64_t first_ns = 0;  // receive times, since 1970 UTC
    std::int64_t last_ns = 0;
};

struct capture_summary {
    std::string error;  // not readable as a capture: why; everything else is then empty
    capture_header header;
    std::uint64_t quotes = 0;
    std::vector<capture_symbol> symbols;  // in the order of their first quote
    std::int64_t longest_gap_ns = 0;      // the longest time between two successive quotes
    std::int64_t gap_start_ns = 0;        // the receive time of the quote before that gap
    bool cut_short = false;               // the file ends inside a record
};

// Reads the whole capture once, a buffer at a time.
capture_summary summarize_capture(const std::string& path);

}  // namespace capture
