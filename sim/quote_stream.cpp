#include "sim/quote_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <set>

#include "sim/instruments.h"
#include "sim/messages.h"
#include "tools/md5.h"

namespace sim {

namespace {

// The first bytes of the server's messages; junk must begin with something else.
constexpr const char* message_types = "AFHIMQ";

sim_options with_seed(sim_options options) {
    if (options.seed == 0) options.seed = std::random_device{}() | 1u;
    return options;
}

std::string md5_of(const std::string& text) {
    char hex[33];
    KESTRO::TOOLS::md5_hex(text.data(), static_cast<std::uint32_t>(text.size()), hex);
    return hex;
}

std::chrono::steady_clock::duration seconds(double count) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(count));
}

std::string clock_text() {
    const quote_stamp now = stamp_now();
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d ", now.millisecond);
    return now.time_text + millis;
}

}  // namespace

server_setup setup_for(const sim_options& options, const std::vector<instrument>& list) {
    server_setup setup;
    setup.port = options.port;
    setup.bind = options.bind;
    reply_script& script = setup.script;
    script.strict = true;
    for (const auto& user : effective_users(options))
        script.users[user.first] = md5_of(user.second);
    if (options.refuse_login) script.login = {'N', "login refused", false};
    script.symbols.clear();
    for (const instrument& item : list) script.symbols.push_back({item.exchange_code, item.symbol});
    script.end_symbol_list = !options.no_list_end;
    setup.split_writes = options.split;
    setup.seed = options.seed * 7919u;
    return setup;
}

quote_stream::quote_stream(const sim_options& options, log_fn log,
                           std::unique_ptr<quote_source> source)
    : m_options(with_seed(options)),
      m_log(std::move(log)),
      m_source(std::move(source)),
      m_server([this] {
          server_setup setup =
              setup_for(m_options, m_source ? m_source->instruments() : default_instruments());
          setup.log = [this](const std::string& line) { this->log(line); };
          return setup;
      }()),
      m_market(default_instruments(), m_options.seed),
      m_start(clock::now()),
      m_random(m_options.seed) {
    m_thread = std::thread([this] { run(); });
}

quote_stream::~quote_stream() {
    stop();
}

void quote_stream::stop() {
    m_stop.store(true);
    m_server.notify_change();
    if (m_thread.joinable()) m_thread.join();
}

void quote_stream::log(const std::string& event) const {
    if (!m_log) return;
    std::lock_guard<std::mutex> guard(m_log_lock);
    m_log(clock_text() + event);
}

// Each round looks at the server and sends what is due, then sleeps until the next thing is
// due or the server changes (a connection, a request, a close): with nothing due and nothing
// happening, no wake-up at all.
void quote_stream::run() {
    while (!m_stop.load()) {
        // Read before the round looks at the server: a change made meanwhile ends the wait.
        const std::uint64_t seen = m_server.change_version();
        const clock::time_point now = clock::now();
        // The server has answered them; one running for days must not keep them all.
        m_server.clear_requests();
        follow_connections(now);
        drop_expired(now);
        send_quotes(now);
        send_heartbeats(now);
        if (!m_stop.load()) m_server.wait_change(seen, next_deadline(clock::now()));
    }
}

void quote_stream::follow_connections(clock::time_point now) {
    m_sessions = m_server.sessions();
    for (const auto& entry : m_sessions) {
        m_timers.emplace(entry.first, timers{now, now + seconds(m_options.heartbeat_seconds)});
    }
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        const std::size_t connection = (it++)->first;
        if (m_sessions.count(connection) == 0) forget(connection);
    }
}

void quote_stream::forget(std::size_t connection) {
    m_sessions.erase(connection);
    m_timers.erase(connection);
    if (m_source) m_source->end(connection);
}

quote_stream::clock::time_point quote_stream::next_deadline(clock::time_point now) const {
    clock::time_point deadline = clock::time_point::max();
    for (const auto& entry : m_sessions) {
        const session& state = entry.second;
        const timers& times = m_timers.at(entry.first);
        if (m_source) {
            deadline = std::min(deadline, m_source->next_due(entry.first, state, now));
        } else if (state.logged_in && !state.registered.empty()) {
            const double round = static_cast<double>(m_ticks + 1) / m_options.rate;
            deadline = std::min(deadline, m_start + seconds(round));
        }
        if (state.logged_in && m_options.heartbeat_seconds > 0) {
            deadline = std::min(deadline, times.next_heartbeat);
        }
        if (m_options.drop_after_seconds > 0) {
            deadline = std::min(deadline, times.accepted + seconds(m_options.drop_after_seconds));
        }
    }
    return deadline;
}

void quote_stream::drop_expired(clock::time_point now) {
    if (m_options.drop_after_seconds <= 0) return;
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (now - it->second.accepted < seconds(m_options.drop_after_seconds)) {
            ++it;
            continue;
        }
        const std::size_t connection = (it++)->first;
        if (m_server.drop(connection)) {
            char after[32];
            std::snprintf(after, sizeof after, "%g", m_options.drop_after_seconds);
            log("client " + std::to_string(connection) + ": dropped after " + after +
                " s (--drop-after)");
        }
        forget(connection);
    }
}

void quote_stream::send_quotes(clock::time_point now) {
    if (m_source) return send_from_source(now);
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    const auto due = static_cast<std::uint64_t>(std::floor(elapsed * m_options.rate));
    if (due <= m_ticks) return;
    // A thread held up (by a client that reads too slowly, say) sends at most one second of
    // rounds at once and skips the rest, instead of flooding everyone afterwards.
    const auto most = static_cast<std::uint64_t>(std::ceil(m_options.rate));
    const std::uint64_t rounds = std::min(due - m_ticks, most);
    m_ticks = due;

    std::set<std::size_t> wanted;  // instruments some logged-in connection has registered
    for (const auto& entry : m_sessions) {
        if (!entry.second.logged_in) continue;
        for (const std::string& symbol : entry.second.registered) {
            const std::size_t index = find_instrument(default_instruments(), symbol);
            if (index < m_market.size()) wanted.insert(index);
        }
    }
    if (wanted.empty()) return;
    const quote_stamp stamp = stamp_now();
    for (std::uint64_t round = 0; round < rounds; ++round) {
        std::map<std::string, std::string> quotes;
        for (std::size_t index : wanted) {
            const instrument& item = m_market.at(index);
            quotes[item.symbol] =
                quote_bytes(item.exchange_code, m_market.next_quote(index, stamp));
        }
        // Each connection gets what it still has registered when the write leaves.
        for (auto& entry : m_sessions) {
            if (!entry.second.logged_in) continue;
            const std::uint64_t sent = m_server.send_for_session(
                entry.first, [&](const session& state, std::string& bytes) {
                    std::uint64_t count = 0;
                    for (const auto& quote : quotes) {
                        if (state.registered.count(quote.first) == 0) continue;
                        bytes += quote.second;
                        ++count;
                    }
                    return count;
                });
            count_sent(entry.first, entry.second, sent);
        }
    }
}

void quote_stream::send_from_source(clock::time_point now) {
    for (auto& entry : m_sessions) {
        m_batch.clear();
        // The batch's buffer and the server's trade places, so that neither grows anew.
        const std::uint64_t sent =
            m_server.send_for_session(entry.first, [&](const session& state, std::string& bytes) {
                m_source->take_due(entry.first, state, now, m_batch);
                bytes.swap(m_batch.bytes);
                return m_batch.quotes;
            });
        if (!m_batch.event.empty()) log(m_batch.event);
        count_sent(entry.first, entry.second, sent);
    }
}

// Counts what went to `connection` and follows it with junk each time the count passes a
// multiple of --garbage-every.
void quote_stream::count_sent(std::size_t connection, session& state, std::uint64_t sent) {
    m_quotes_sent.fetch_add(sent);
    const std::uint64_t before = state.quotes;
    state.quotes += sent;
    const unsigned every = m_options.garbage_every;
    if (every != 0 && before / every != (before + sent) / every) {
        m_server.send_raw(connection, junk());
    }
}

void quote_stream::send_heartbeats(clock::time_point now) {
    if (m_options.heartbeat_seconds <= 0) return;
    for (const auto& entry : m_sessions) {
        timers& times = m_timers.at(entry.first);
        if (!entry.second.logged_in || now < times.next_heartbeat) continue;
        m_server.send_heartbeat(entry.first, static_cast<std::int64_t>(std::time(nullptr)));
        times.next_heartbeat = now + seconds(m_options.heartbeat_seconds);
    }
}

std::string quote_stream::junk() {
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
