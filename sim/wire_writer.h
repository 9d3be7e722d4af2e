// Internal to the simulator command and the demo. The simulated server's way of writing to a
// connection, with the faults a client should survive: writes cut into random pieces, and
// blocks of junk between quotes. Used by the stream's thread only; owns its random generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/quote_server.h"

namespace sim {

// Writes through the server with --split and --garbage-every applied. The stream's thread
// only; it owns the random generator that places the cuts and makes the junk.
class wire_writer {
public:
    // `garbage_every` 0 never sends junk.
    wire_writer(quote_server& server, bool split, unsigned garbage_every, std::uint64_t seed);

    // One write of `bytes`, or several with split; false when the connection did not take it.
    bool send(std::size_t connection, const std::string& bytes);

    // Quote messages in as few writes as the faults allow. `quote_count` is the connection's
    // count of quotes so far; it is advanced, and every garbage_every-th quote is followed by
    // a junk block of its own.
    bool send_quotes(std::size_t connection, const std::vector<std::string>& quotes,
                     std::uint64_t& quote_count);

    // A junk block: a first byte no server message begins with, then random bytes.
    std::string junk();

private:
    std::vector<std::size_t> random_cuts(std::size_t length);

    quote_server& m_server;
    bool m_split;
    unsigned m_garbage_every;
    std::mt19937_64 m_random;
};

}  // namespace sim
