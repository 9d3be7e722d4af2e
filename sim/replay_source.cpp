#include "sim/replay_source.h"

#include <algorithm>
#include <cstddef>

#include "protocol/symbol_names.h"
#include "capture/capture_reader.h"
#include "capture/capture_summary.h"
#include "protocol/wire.h"

namespace sim {

namespace {

// A client that registers only some of the capture's symbols starts this long after its last
// registration; one that registers them all starts at once. Either way the registrations are
// in before the first quote, so that a recorder on the other end misses none of them.
constexpr std::chrono::seconds settle_time{1};
// Records looked at per call, so that requests and other clients get their turn; at full
// speed about 370 KB per write.
constexpr std::size_t batch_records = 1024;
constexpr std::size_t quote_message_head = offsetof(oqs_quote_msg, quote);

void note(std::string& event, std::size_t connection, const std::string& what) {
    event += event.empty() ? "client " + std::to_string(connection) + ": " + what : ", " + what;
}

}  // namespace

// One connection's place in the capture and the moment its current pass began.
struct replay_source::cursor {
    capture::capture_reader reader;
    bool opened = false;
    bool started = false;
    const char* next = nullptr;     // the next record's bytes, in the reader's buffer
    std::size_t registrations = 0;  // the session's registrations when last looked at
    clock::time_point registrations_changed;
    clock::time_point zero;     // when the pass's first quote was due
    std::int64_t first_ns = 0;  // that quote's receive time
    std::uint64_t sent = 0;
};

replay_source::replay_source(const replay_settings& settings) : m_settings(settings) {}

replay_source::~replay_source() = default;

std::unique_ptr<replay_source> replay_source::open(const replay_settings& settings,
                                                   std::string& error, std::string& warning) {
    const capture::capture_summary summary = capture::summarize_capture(settings.path);
    if (!summary.error.empty()) {
        error = summary.error;
        return nullptr;
    }
    if (summary.quotes == 0) {
        error = settings.path + ": the capture holds no quotes";
        return nullptr;
    }
    if (summary.cut_short) {
        warning = settings.path +
                  ": ends inside a record (the recorder stopped while writing it); replaying up "
                  "to the last whole record";
    }
    std::unique_ptr<replay_source> source(new replay_source(settings));
    source->m_quotes = summary.quotes;
    source->m_recorded.reserve(summary.symbols.size());  // the map's keys point into it
    for (const capture::capture_symbol& s : summary.symbols) {
        // The library hands the metals over under their display names; on the wire they travel
        // under their codes, and the client translates them back.
        const char* code = name_to_code(s.symbol.c_str());
        instrument item;
        item.exchange_code = s.exchange_code;
        item.symbol = code != nullptr ? code : s.symbol;
        item.exchange_symbol = s.exchange_symbol;
        item.exchange_name = s.exchange_name;
        source->m_recorded.push_back(s.symbol);
        source->m_positions.emplace(source->m_recorded.back(), source->m_list.size());
        source->m_list.push_back(item);
        source->m_renamed.push_back(code != nullptr);
    }
    return source;
}

std::size_t replay_source::position_of(const char* record) const {
    const char* symbol =
        record + capture::capture_quote_at + offsetof(OrvMarketDepthQuoteData, Symbol);
    const char* end = std::find(symbol, symbol + sizeof(OrvMarketDepthQuoteData::Symbol), '\0');
    const auto found = m_positions.find(std::string_view(symbol, end - symbol));
    return found != m_positions.end() ? found->second : m_list.size();
}

void replay_source::append_message(const char* record, std::size_t position,
                                   std::string& out) const {
    const std::size_t at = out.size();
    out.append(quote_message_head, '\0');
    out[at] = 'Q';
    out[at + offsetof(oqs_quote_msg, exchange_code)] = record[capture::capture_exchange_at];
    out.append(record + capture::capture_quote_at, sizeof(OrvMarketDepthQuoteData));
    if (!m_renamed[position]) return;
    // The client wrote the display name over the code and cleared the rest of the field;
    // only such a field turns back into the code, so that it is translated into the same
    // bytes again. Any other stays as recorded, and the client passes it through as it is.
    char* symbol = &out[at + quote_message_head + offsetof(OrvMarketDepthQuoteData, Symbol)];
    char* end = symbol + sizeof(OrvMarketDepthQuoteData::Symbol);
    if (std::all_of(std::find(symbol, end, '\0'), end, [](char c) { return c == '\0'; })) {
        const std::string& code = m_list[position].symbol;
        std::fill(symbol, end, '\0');
        std::copy(code.begin(), code.end(), symbol);
    }
}

bool replay_source::ready(const cursor& c, clock::time_point now) const {
    return c.registrations >= m_list.size() || now - c.registrations_changed >= settle_time;
}

bool replay_source::begin_pass(cursor& c, clock::time_point now) {
    const bool positioned = c.opened ? c.reader.rewind() : c.reader.open(m_settings.path);
    c.opened = true;
    c.next = positioned ? c.reader.next_bytes() : nullptr;
    c.zero = now;
    c.first_ns = c.next != nullptr ? capture::decode_receive_ns(c.next) : 0;
    return c.next != nullptr;
}

replay_source::clock::time_point replay_source::due_at(const cursor& c) const {
    const double offset_ns =
        static_cast<double>(capture::decode_receive_ns(c.next) - c.first_ns) / m_settings.speed;
    return c.zero + std::chrono::duration_cast<clock::duration>(
                        std::chrono::duration<double, std::nano>(offset_ns));
}

void replay_source::take_due(std::size_t connection, const session& state, clock::time_point now,
                             source_batch& batch) {
    if (!state.logged_in) return;
    auto found = m_cursors.find(connection);
    if (found == m_cursors.end()) {
        if (state.registered.empty()) return;
        found = m_cursors.emplace(connection, std::make_unique<cursor>()).first;
        found->second->registrations_changed = now;
    }
    cursor& c = *found->second;
    if (!c.started) {
        if (state.registered.size() != c.registrations) {
            c.registrations = state.registered.size();
            c.registrations_changed = now;
        }
        if (!ready(c, now)) return;
        c.started = true;
        if (!begin_pass(c, now)) {
            note(batch.event, connection, "replay failed: " + c.reader.error());
            return;
        }
        note(batch.event, connection, "replay started");
    }
    for (std::size_t looked = 0; c.next != nullptr && looked < batch_records; ++looked) {
        if (m_settings.speed > 0 && due_at(c) > now) break;
        const std::size_t position = position_of(c.next);
        if (position < m_list.size() && state.registered.count(m_list[position].symbol) != 0) {
            append_message(c.next, position, batch.bytes);
            ++batch.quotes;
            ++c.sent;
        }
        c.next = c.reader.next_bytes();
        if (c.next != nullptr) continue;
        const std::string sent = std::to_string(c.sent) + " quotes sent";
        if (c.reader.error().empty() && !m_settings.loop) {
            note(batch.event, connection, "replay finished, " + sent);
        } else if (c.reader.error().empty() && begin_pass(c, now)) {
            note(batch.event, connection, "replay starts over after " + sent + " (--loop)");
        } else {
            note(batch.event, connection, "replay failed after " + sent + ": " + c.reader.error());
        }
    }
}

replay_source::clock::time_point replay_source::next_due(std::size_t connection,
                                                         const session& state,
                                                         clock::time_point now) const {
    if (!state.logged_in) return clock::time_point::max();
    const auto found = m_cursors.find(connection);
    if (found == m_cursors.end()) {
        return state.registered.empty() ? clock::time_point::max() : now;
    }
    const cursor& c = *found->second;
    if (!c.started) {
        if (state.registered.size() != c.registrations || ready(c, now)) return now;
        return c.registrations_changed + settle_time;
    }
    if (c.next == nullptr) return clock::time_point::max();
    return m_settings.speed > 0 ? due_at(c) : now;
}

void replay_source::end(std::size_t connection) {
    m_cursors.erase(connection);
}

}  // namespace sim
