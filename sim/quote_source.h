// Internal to the simulator command and its tests. Where the quote stream gets quotes that it
// does not invent: the server's script answers the requests and keeps the sessions, and the
// stream asks a source what each session is due to receive.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/instruments.h"
#include "sim/reply_script.h"

namespace sim {

// What a source has for one session at one moment.
struct source_batch {
    std::string bytes;         // whole quote messages, back to back, ready for one write
    std::uint64_t quotes = 0;  // how many
    std::string event;         // a line for the engine's log, or ""

    void clear() {
        bytes.clear();
        quotes = 0;
        event.clear();
    }
};

// The stream's thread only: a source keeps its per-connection state without a lock.
class quote_source {
public:
    using clock = std::chrono::steady_clock;

    virtual ~quote_source() = default;

    // What the symbol list offers; a session registers their wire symbols.
    virtual const std::vector<instrument>& instruments() const = 0;

    // The quote messages due to `connection`, in state `state`, by `now`: a bounded batch,
    // into the cleared `batch`. Called under the connection's lock (quote_server::
    // send_for_session), so that `state` is what the client has been told.
    virtual void take_due(std::size_t connection, const session& state, clock::time_point now,
                          source_batch& batch) = 0;

    // When `connection` may next be due something; clock::time_point::max() for nothing yet.
    virtual clock::time_point next_due(std::size_t connection, const session& state,
                                       clock::time_point now) const = 0;

    // The connection has ended; whatever the source kept for it goes.
    virtual void end(std::size_t connection) = 0;
};

}  // namespace sim
