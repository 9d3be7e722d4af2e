#include "sim/wire_writer.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
// With split, the pieces of one write leave this far apart, so that the client most likely
// reads them apart instead of finding them joined again in its socket buffer.
constexpr int split_pause_ms = 1;
// The first bytes of the server's messages; junk must begin with something else.
constexpr const char* message_types = "AFHIMQ";
}  // namespace

wire_writer::wire_writer(quote_server& server, bool split, unsigned garbage_every,
                         std::uint64_t seed)
    : m_server(server), m_split(split), m_garbage_every(garbage_every), m_random(seed) {}

std::vector<std::size_t> wire_writer::random_cuts(std::size_t length) {
    std::vector<std::size_t> cuts;
    if (length < 2) return cuts;
    const auto pieces = std::uniform_int_distribution<int>(1, 3)(m_random);
    std::uniform_int_distribution<std::size_t> offset(1, length - 1);
    for (int i = 0; i < pieces; ++i) cuts.push_back(offset(m_random));
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}

bool wire_writer::send(std::size_t connection, const std::string& bytes) {
    if (bytes.empty()) return true;
    if (!m_split) return m_server.send_raw(connection, bytes);
    return m_server.send_raw_split(connection, bytes, random_cuts(bytes.size()), split_pause_ms);
}

bool wire_writer::send_quotes(std::size_t connection, const std::vector<std::string>& quotes,
                              std::uint64_t& quote_count) {
    std::string pending;
    for (const std::string& quote : quotes) {
        pending += quote;
        ++quote_count;
        if (m_garbage_every != 0 && quote_count % m_garbage_every == 0) {
            if (!send(connection, pending) || !send(connection, junk())) return false;
            pending.clear();
        }
    }
    return send(connection, pending);
}

std::string wire_writer::junk() {
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(8, 40);
    std::string bytes(length(m_random), '\0');
    for (char& c : bytes) c = static_cast<char>(byte(m_random));
    while (bytes[0] == '\0' || std::strchr(message_types, bytes[0]) != nullptr) {
        bytes[0] = static_cast<char>(byte(m_random));
    }
    return bytes;
}

}  // namespace sim
