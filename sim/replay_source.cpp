#include "sim/replay_source.h"

#include <algorithm>
#include <cstring>

#include "protocol/symbol_names.h"
#include "sim/capture_reader.h"
#include "sim/capture_summary.h"
#include "sim/messages.h"

namespace sim {

namespace {

// A client that registers only some of the capture's symbols starts this long after its last
// registration; one that registers them all starts at once. Either way the registrations are
// in before the first quote, so that a recorder on the other end misses none of them.
constexpr std::chrono::seconds settle_time{1};
// Records looked at per call, so that requests and other clients get their turn.
constexpr std::size_t batch_records = 256;

std::string who(const client_session& session) {
    return "client " + std::to_string(session.number) + ": ";
}

void note(std::string& event, const client_session& session, const std::string& what) {
    event += event.empty() ? who(session) + what : ", " + what;
}

}  // namespace

// One connection's place in the capture and the moment its current pass began.
struct replay_source::cursor {
    capture_reader reader;
    bool opened = false;
    bool started = false;
    bool has_next = false;
    capture_record next;
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
    const capture_summary summary = summarize_capture(settings.path);
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
    for (const capture_symbol& s : summary.symbols) {
        // The library hands the metals over under their display names; on the wire they travel
        // under their codes, and the client translates them back.
        const char* code = name_to_code(s.symbol.c_str());
        instrument item;
        item.exchange_code = s.exchange_code;
        item.symbol = code != nullptr ? code : s.symbol;
        item.exchange_symbol = s.exchange_symbol;
        item.exchange_name = s.exchange_name;
        source->m_positions.emplace(s.symbol, source->m_list.size());
        source->m_list.push_back(item);
        source->m_renamed.push_back(code != nullptr);
    }
    return source;
}

std::size_t replay_source::position_of(const OrvMarketDepthQuoteData& quote) const {
    const auto found = m_positions.find(symbol_of(quote));
    return found != m_positions.end() ? found->second : m_list.size();
}

std::string replay_source::wire_message(const capture_record& record, std::size_t position) const {
    OrvMarketDepthQuoteData quote = record.quote;
    if (m_renamed[position]) {
        // The client wrote the display name over the code and cleared the rest of the field;
        // only such a field turns back into the code, so that it is translated into the same
        // bytes again. Any other stays as recorded, and the client passes it through as it is.
        const char* begin = quote.Symbol;
        const char* end = begin + sizeof quote.Symbol;
        const char* rest = std::find(begin, end, '\0');
        if (std::all_of(rest, end, [](char c) { return c == '\0'; })) {
            const std::string& code = m_list[position].symbol;
            std::memset(quote.Symbol, 0, sizeof quote.Symbol);
            std::memcpy(quote.Symbol, code.data(), code.size());
        }
    }
    return quote_bytes(record.exchange_code, quote);
}

bool replay_source::ready(const cursor& c, clock::time_point now) const {
    return c.registrations >= m_list.size() || now - c.registrations_changed >= settle_time;
}

bool replay_source::begin_pass(cursor& c, clock::time_point now) {
    const bool positioned = c.opened ? c.reader.rewind() : c.reader.open(m_settings.path);
    c.opened = true;
    c.has_next = positioned && c.reader.next(c.next);
    c.zero = now;
    c.first_ns = c.next.receive_ns;
    return c.has_next;
}

replay_source::clock::time_point replay_source::due_at(const cursor& c) const {
    const double offset_ns = static_cast<double>(c.next.receive_ns - c.first_ns) / m_settings.speed;
    return c.zero + std::chrono::duration_cast<clock::duration>(
                        std::chrono::duration<double, std::nano>(offset_ns));
}

std::string replay_source::take_due(const client_session& session, clock::time_point now,
                                    std::vector<std::string>& messages) {
    if (!session.logged_in) return {};
    auto found = m_cursors.find(session.number);
    if (found == m_cursors.end()) {
        if (session.registered.empty()) return {};
        found = m_cursors.emplace(session.number, std::make_unique<cursor>()).first;
        found->second->registrations_changed = now;
    }
    cursor& c = *found->second;
    std::string event;
    if (!c.started) {
        if (session.registered.size() != c.registrations) {
            c.registrations = session.registered.size();
            c.registrations_changed = now;
        }
        if (!ready(c, now)) return {};
        c.started = true;
        if (!begin_pass(c, now)) return who(session) + "replay failed: " + c.reader.error();
        note(event, session, "replay started");
    }
    for (std::size_t looked = 0; c.has_next && looked < batch_records; ++looked) {
        if (m_settings.speed > 0 && due_at(c) > now) break;
        const std::size_t position = position_of(c.next.quote);
        if (session.registered.count(position) != 0) {
            messages.push_back(wire_message(c.next, position));
            ++c.sent;
        }
        if (c.reader.next(c.next)) continue;
        c.has_next = false;
        const std::string sent = std::to_string(c.sent) + " quotes sent";
        if (c.reader.error().empty() && !m_settings.loop) {
            note(event, session, "replay finished, " + sent);
        } else if (c.reader.error().empty() && begin_pass(c, now)) {
            note(event, session, "replay starts over after " + sent + " (--loop)");
        } else {
            note(event, session, "replay failed after " + sent + ": " + c.reader.error());
        }
    }
    return event;
}

replay_source::clock::time_point replay_source::next_due(const client_session& session,
                                                         clock::time_point now) const {
    if (!session.logged_in) return clock::time_point::max();
    const auto found = m_cursors.find(session.number);
    if (found == m_cursors.end()) {
        return session.registered.empty() ? clock::time_point::max() : now;
    }
    const cursor& c = *found->second;
    if (!c.started) {
        if (session.registered.size() != c.registrations || ready(c, now)) return now;
        return c.registrations_changed + settle_time;
    }
    if (!c.has_next) return clock::time_point::max();
    return m_settings.speed > 0 ? due_at(c) : now;
}

void replay_source::end(std::size_t connection) {
    m_cursors.erase(connection);
}

}  // namespace sim
