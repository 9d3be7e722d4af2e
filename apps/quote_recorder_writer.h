// quote_recorder's writing side: a thread of its own that takes the queued quotes in batches
// and appends them to the capture, and to the CSV file when there is one.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

#include "quote_recorder_csv.h"
#include "capture/capture_queue.h"
#include "capture/capture_writer.h"

// Started once, joined once by the main thread, which may read the counters at any time and
// the rest after join(). Its thread owns the files while it runs.
class recorder_writer {
public:
    // `csv` may be null. Both files are open already.
    recorder_writer(capture::capture_queue& queue, capture::capture_writer& capture, csv_file* csv);
    ~recorder_writer();
    recorder_writer(const recorder_writer&) = delete;
    recorder_writer& operator=(const recorder_writer&) = delete;

    void start();
    // Closes the queue, waits until everything queued is written, and closes the files.
    void finish();

    std::uint64_t written() const { return m_written.load(); }
    std::uint64_t capture_size() const { return m_size.load(); }
    bool failed() const { return m_failed.load(); }

    // After finish(): the first error ("" when none) and the quotes per symbol.
    const std::string& error() const { return m_error; }
    const std::map<std::string, std::uint64_t>& per_symbol() const { return m_per_symbol; }

private:
    void run();
    bool write_batch();

    capture::capture_queue& m_queue;
    capture::capture_writer& m_capture;
    csv_file* m_csv;
    std::vector<capture::capture_record> m_batch;
    std::map<std::string, std::uint64_t> m_per_symbol;
    std::string m_error;
    std::atomic<std::uint64_t> m_written{0};
    std::atomic<std::uint64_t> m_size{0};
    std::atomic<bool> m_failed{false};
    std::thread m_thread;
};
