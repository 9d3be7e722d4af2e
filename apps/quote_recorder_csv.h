// quote_recorder's text output: recorded quotes as CSV rows (one per quote, with a header row,
// the fields named as in docs/quote-fields.md) and receive times as readable UTC text. Plain
// functions and a file that one thread writes at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "capture/capture_file.h"

// "2024-01-05 01:30:00.123456" (UTC) from nanoseconds since 1970, with `digits` (0 to 9)
// decimals of the second. A layout spreadsheet tools and data-frame libraries read as a time.
std::string utc_text(std::int64_t ns, int digits);

// The header row, newline included.
std::string csv_header();

// One quote as a CSV row, newline included: texts up to their first NUL and quoted when they
// need it, numbers in their shortest exact form, so that a double reads back bit for bit.
void append_csv_row(const capture::capture_record& record, std::string& row);

// A CSV file written front to back: the header row on open, then one row per record. One
// thread at a time; it owns the file and a row buffer.
class csv_file {
public:
    csv_file() = default;
    ~csv_file();
    csv_file(const csv_file&) = delete;
    csv_file& operator=(const csv_file&) = delete;

    // Creates the file (an existing one is replaced) and writes the header row.
    bool open(const std::string& path);
    bool write(const capture::capture_record& record);
    bool flush();
    bool close();
    // What went wrong, with the file's name; "" when nothing has.
    const std::string& error() const { return m_error; }

private:
    bool put(const std::string& text);

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::string m_row;
    std::string m_error;
};
