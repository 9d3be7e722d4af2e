// Internal to the simulator command, its tests and the replay benchmark. Serves a capture
// again: every logged-in client that registers the capture's symbols receives its quotes from
// the first, in the recorded order and at the recorded pace (or faster), read from disk as they
// fall due, so that a capture larger than memory replays.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture/capture_file.h"
#include "sim/quote_source.h"

namespace sim {

struct replay_settings {
    std::string path;
    double speed = 1;   // times the recorded pace; 0 as fast as the connection takes them
    bool loop = false;  // start over at the end
};

// The engine's thread only (see quote_source). It owns one reader per replaying connection,
// each with its own place in the capture and its own clock; no lock.
class replay_source : public quote_source {
public:
    // Reads the capture through once, since its symbols make the symbol list. Null, with
    // `error`, when it cannot be replayed (not a capture, a newer format, no quotes);
    // `warning` says when it ends inside a record, which is left out.
    static std::unique_ptr<replay_source> open(const replay_settings& settings, std::string& error,
                                               std::string& warning);
    ~replay_source() override;

    std::uint64_t quote_count() const { return m_quotes; }

    const std::vector<instrument>& instruments() const override { return m_list; }
    void take_due(std::size_t connection, const session& state, clock::time_point now,
                  source_batch& batch) override;
    clock::time_point next_due(std::size_t connection, const session& state,
                               clock::time_point now) const override;
    void end(std::size_t connection) override;

private:
    struct cursor;

    explicit replay_source(const replay_settings& settings);
    bool ready(const cursor& c, clock::time_point now) const;
    bool begin_pass(cursor& c, clock::time_point now);
    clock::time_point due_at(const cursor& c) const;
    std::size_t position_of(const char* record) const;
    void append_message(const char* record, std::size_t position, std::string& out) const;

    const replay_settings m_settings;
    std::uint64_t m_quotes = 0;
    std::vector<instrument> m_list;       // the wire symbols, in the order of their first quote
    std::vector<std::string> m_recorded;  // each one's symbol as recorded
    std::vector<bool> m_renamed;          // recorded under the display name of a wire code
    std::unordered_map<std::string_view, std::size_t> m_positions;  // into m_recorded
    std::map<std::size_t, std::unique_ptr<cursor>> m_cursors;       // by connection
};

}  // namespace sim
