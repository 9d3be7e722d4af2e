#include "capture/capture_reader.h"

#include <cerrno>
#include <cstring>

namespace capture {

namespace {
constexpr std::size_t records_per_read = 256;
}  // namespace

capture_reader::~capture_reader() {
    if (m_file != nullptr) std::fclose(m_file);
}

bool capture_reader::fail(const std::string& what) {
    m_error = m_path + ": " + what;
    return false;
}

bool capture_reader::open(const std::string& path) {
    m_path = path;
    m_error.clear();
    m_file = std::fopen(path.c_str(), "rb");
    if (m_file == nullptr) return fail(std::strerror(errno));
    char bytes[capture_header_size];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, m_file);
    if (std::ferror(m_file)) return fail("cannot read the file");
    const std::string problem = decode_header(bytes, got, m_header);
    if (!problem.empty()) return fail(problem);
    m_buffer.resize(records_per_read * capture_record_size);
    return true;
}

bool capture_reader::fill() {
    // The part of a record left over from the last read moves to the front.
    const std::size_t left = m_end - m_begin;
    std::memmove(m_buffer.data(), m_buffer.data() + m_begin, left);
    m_begin = 0;
    m_end = left;
    m_end += std::fread(m_buffer.data() + m_end, 1, m_buffer.size() - m_end, m_file);
    if (std::ferror(m_file)) return fail("cannot read the file");
    return true;
}

const char* capture_reader::next_bytes() {
    if (m_file == nullptr) return nullptr;
    if (m_end - m_begin < capture_record_size && (!fill() || m_end < capture_record_size)) {
        m_cut_short = m_error.empty() && m_end > 0;
        return nullptr;
    }
    const char* record = m_buffer.data() + m_begin;
    m_begin += capture_record_size;
    return record;
}

bool capture_reader::next(capture_record& out) {
    const char* bytes = next_bytes();
    if (bytes != nullptr) decode_record(bytes, out);
    return bytes != nullptr;
}

bool capture_reader::rewind() {
    if (m_file == nullptr) return false;
    if (std::fseek(m_file, static_cast<long>(capture_header_size), SEEK_SET) != 0) {
        return fail("cannot go back to the first record");
    }
    m_begin = m_end = 0;
    m_cut_short = false;
    return true;
}

}  // namespace capture
