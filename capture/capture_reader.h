// Internal to the simulator, the recorder and their tests. Reads a capture file front to back
// through a buffer of a few hundred records, so that a capture of any size, larger than memory
// too, streams from disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/capture_file.h"

namespace capture {

// One reading pass over one capture file, with rewind for starting over. Used by one thread at
// a time; it owns the open file and its buffer, no lock.
class capture_reader {
public:
    capture_reader() = default;
    ~capture_reader();
    capture_reader(const capture_reader&) = delete;
    capture_reader& operator=(const capture_reader&) = delete;

    // Opens the file and reads its header; false with error() when it cannot be opened or is
    // not a capture this program reads (not one at all, a newer format, a cut header).
    bool open(const std::string& path);

    const capture_header& header() const { return m_header; }

    // The next whole record. False at the end of the file, after a read error (error() says
    // which), or when the file ends inside a record (cut_short()): a recorder that was killed
    // while writing leaves such a file, readable up to its last whole record.
    bool next(capture_record& out);
    bool cut_short() const { return m_cut_short; }

    // The same without the copy: the next whole record's encoded bytes, valid until the next
    // call, or null where next() would be false.
    const char* next_bytes();

    // Back to the first record; false with error() when the file cannot be repositioned.
    bool rewind();

    // What went wrong, with the file's name; "" when nothing has.
    const std::string& error() const { return m_error; }

private:
    bool fill();
    bool fail(const std::string& what);

    std::FILE* m_file = nullptr;
    std::string m_path;
    capture_header m_header;
    std::vector<char> m_buffer;
    std::size_t m_begin = 0;  // the first unread byte in m_buffer
    std::size_t m_end = 0;    // one past the last byte read into m_buffer
    bool m_cut_short = false;
    std::string m_error;
};

}  // namespace capture
