#include "capture/capture_writer.h"

#include <cerrno>
#include <cstring>

namespace capture {

namespace {
// Large writes keep a fast stream of quotes from costing one system call per record.
constexpr std::size_t write_buffer_size = 1 << 16;
}  // namespace

capture_writer::~capture_writer() {
    close();
}

bool capture_writer::fail(const std::string& what) {
    if (m_error.empty()) m_error = m_path + ": " + what;
    return false;
}

bool capture_writer::open(const std::string& path, const capture_header& header) {
    m_path = path;
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr) return fail(std::strerror(errno));
    std::setvbuf(m_file, nullptr, _IOFBF, write_buffer_size);
    char bytes[capture_header_size];
    encode_header(header, bytes);
    if (std::fwrite(bytes, 1, sizeof bytes, m_file) != sizeof bytes) {
        return fail(std::strerror(errno));
    }
    m_size = sizeof bytes;
    return true;
}

bool capture_writer::write(const capture_record& record) {
    if (m_file == nullptr) return false;
    char bytes[capture_record_size];
    encode_record(record, bytes);
    if (std::fwrite(bytes, 1, sizeof bytes, m_file) != sizeof bytes) {
        return fail(std::strerror(errno));
    }
    m_size += sizeof bytes;
    return true;
}

bool capture_writer::flush() {
    if (m_file == nullptr) return false;
    return std::fflush(m_file) == 0 || fail(std::strerror(errno));
}

bool capture_writer::close() {
    if (m_file == nullptr) return m_error.empty();
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    return (closed || fail(std::strerror(errno))) && m_error.empty();
}

}  // namespace capture
