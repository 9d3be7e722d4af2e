// Internal to the recorder, the replay benchmark and the tests. Writes a capture file: the
// header once, then records appended in arrival order. Nothing written is ever rewritten, so a
// writer that dies leaves a file that reads up to its last whole record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "capture/capture_file.h"

namespace capture {

// One capture being written. Used by one thread at a time (the recorder's writer thread); it
// owns the open file, no lock.
class capture_writer {
public:
    capture_writer() = default;
    ~capture_writer();
    capture_writer(const capture_writer&) = delete;
    capture_writer& operator=(const capture_writer&) = delete;

    // Creates the file (an existing one is replaced) and writes the header; false with error().
    bool open(const std::string& path, const capture_header& header);

    // Appends one record; false with error() when the disk did not take it.
    bool write(const capture_record& record);

    // Hands what is buffered to the operating system, so that it survives this process.
    bool flush();

    // Flushes and closes; false with error() when the last bytes did not reach the disk.
    bool close();

    // Bytes written so far, header included.
    std::uint64_t size() const { return m_size; }

    const std::string& error() const { return m_error; }

private:
    bool fail(const std::string& what);

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::uint64_t m_size = 0;
    std::string m_error;
};

}  // namespace capture
