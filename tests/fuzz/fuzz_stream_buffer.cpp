// Fuzzes stream_buffer against a std::string of the unread bytes, and against the position
// rules: bytes go behind the write position when they fit there, else the unread bytes move
// to the front, else the block grows to max(2 x capacity, length + n). Small initial
// capacities (0 to 15 bytes) make growth and compaction frequent.
//
// Input layout: byte 0 is the initial capacity (value % 16); then each operation is an
// opcode byte, a count byte and, for append and assign, that many data bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "net/stream_buffer.h"

namespace {

// The positions the buffer must have after each operation.
struct positions {
    std::uint64_t read;
    std::uint64_t write;
    std::uint64_t capacity;

    void append(std::size_t n) {
        if (n == 0) return;
        if (n <= capacity - write) {
            write += n;
            return;
        }
        const std::uint64_t unread = write - read;
        if (n > capacity - unread) capacity = std::max<std::uint64_t>(2 * capacity, unread + n);
        read = 0;
        write = unread + n;
    }
    void consume(std::size_t n) {
        if (n >= write - read) {
            read = write = 0;
        } else {
            read += n;
        }
    }
};

void compare(KESTRO::TOOLS::stream_buffer& buffer, const std::string& model,
             const positions& expected) {
    FUZZ_CHECK(buffer.length() == model.size());
    FUZZ_CHECK(buffer.read_position() == expected.read);
    FUZZ_CHECK(buffer.write_position() == expected.write);
    FUZZ_CHECK(buffer.capacity() == expected.capacity);
    FUZZ_CHECK(buffer.read_position() <= buffer.write_position());
    FUZZ_CHECK(buffer.write_position() <= buffer.capacity());
    if (!model.empty()) {
        FUZZ_CHECK(buffer.data() != nullptr);
        FUZZ_CHECK(std::memcmp(buffer.data(), model.data(), model.size()) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t initial = data[0] % 16;
    KESTRO::TOOLS::stream_buffer buffer(initial);
    // A zero-byte block may come back null; either way the capacity is what was asked for
    // or nothing.
    positions expected{0, 0, buffer.capacity()};
    FUZZ_CHECK(expected.capacity == initial || expected.capacity == 0);
    std::string model;
    compare(buffer, model, expected);

    std::size_t at = 1;
    while (at < size) {
        const std::uint8_t op = data[at++] % 5;
        const std::size_t count = at < size ? data[at++] : 0;
        switch (op) {
            case 0:    // append
            case 1: {  // assign
                const std::size_t n = std::min(count % 64, size - at);
                const char* bytes = reinterpret_cast<const char*>(data + at);
                at += n;
                if (op == 1) {
                    expected.read = expected.write = 0;
                    model.clear();
                }
                FUZZ_CHECK(op == 0 ? buffer.append(bytes, n) : buffer.assign(bytes, n));
                model.append(bytes, n);
                expected.append(n);
                break;
            }
            case 2:  // consume, also past the end
                FUZZ_CHECK(buffer.consume(count % 80));
                model.erase(0, std::min(model.size(), count % 80));
                expected.consume(count % 80);
                break;
            case 3:
                buffer.clear();
                model.clear();
                expected.read = expected.write = 0;
                break;
            default:  // empty operations change nothing
                FUZZ_CHECK(buffer.append(nullptr, 0));
                FUZZ_CHECK(buffer.consume(0));
                break;
        }
        compare(buffer, model, expected);
    }
    return 0;
}
