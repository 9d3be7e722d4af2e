// Fuzzes stream_buffer against a std::string of the unread bytes and against its position
// rules: bytes go behind the write position when they fit there, else the unread bytes move
// to the front, else the block grows to max(2 x capacity, length + n). Small initial
// capacities make growth and compaction frequent.
//
// Input: byte 0 is the initial capacity (value % 16); then each operation is an opcode byte, a
// count byte and, for append and assign, that many data bytes (count % 64; none: a null pointer).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "net/stream_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    KESTRO::TOOLS::stream_buffer buffer(data[0] % 16);
    // A zero-byte block may come back null: the capacity is what was asked for, or nothing.
    std::uint64_t read = 0, write = 0, capacity = buffer.capacity();
    FUZZ_CHECK(capacity == data[0] % 16u || capacity == 0);
    std::string model;
    for (std::size_t at = 1; at < size;) {
        const std::uint8_t op = data[at++] % 4;
        const std::size_t count = at < size ? data[at++] : 0;
        if (op <= 1) {  // append, or assign: clear, then append
            const std::size_t n = std::min(count % 64, size - at);
            const char* from = reinterpret_cast<const char*>(data + at);
            at += n;
            if (op == 1) {
                read = write = 0;
                model.clear();
            }
            const char* bytes = n == 0 ? nullptr : from;
            FUZZ_CHECK(op == 0 ? buffer.append(bytes, n) : buffer.assign(bytes, n));
            model.append(from, n);
            if (n > capacity - write) {
                const std::uint64_t unread = write - read;
                if (n > capacity - unread)
                    capacity = std::max<std::uint64_t>(2 * capacity, unread + n);
                read = 0;
                write = unread;
            }
            write += n;
        } else if (op == 2) {  // consume, also past the end
            const std::size_t n = count % 80;
            FUZZ_CHECK(buffer.consume(n));
            model.erase(0, std::min(model.size(), n));
            read = model.empty() ? 0 : read + n;
            write = model.empty() ? 0 : write;
        } else {
            buffer.clear();
            model.clear();
            read = write = 0;
        }
        FUZZ_CHECK(buffer.length() == model.size());
        FUZZ_CHECK(buffer.read_position() == read && buffer.write_position() == write);
        FUZZ_CHECK(buffer.capacity() == capacity);
        FUZZ_CHECK(model.empty() || std::memcmp(buffer.data(), model.data(), model.size()) == 0);
    }
    return 0;
}
