#include "sim/quote_stream.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <ctime>
#include <iterator>
#include <random>

#include "sim/messages.h"

namespace sim {

namespace {

// The serving thread looks at the server at least this often even when nothing is due.
constexpr std::chrono::milliseconds idle_wait{50};

sim_options with_seed(sim_options options) {
    if (options.seed == 0) options.seed = std::random_device{}() | 1u;
    return options;
}

// The desk answers every request, so the server's own script must answer none: by default it
// would accept any login. It is silenced right after the server starts listening, before a
// client has had the time to send anything.
void silence(reply_script& script) {
    script.login.silent = true;
    script.relogin.reset();
    script.nth_login.clear();
    script.answer_symbol_query = false;
    script.answer_register = false;
    script.answer_unregister = false;
    script.quotes_after_register = 0;
    script.echo_heartbeat = false;
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

quote_stream::quote_stream(const sim_options& options, log_fn log,
                           std::unique_ptr<quote_source> source)
    : m_options(with_seed(options)),
      m_log(std::move(log)),
      m_source(std::move(source)),
      m_server(m_options.port),
      m_desk(m_options, m_source ? m_source->instruments() : default_instruments()),
      m_market(default_instruments(), m_options.seed),
      m_writer(m_server, m_options.split, m_options.garbage_every, m_options.seed * 7919u),
      m_start(clock::now()) {
    m_server.update_script(silence);
    m_thread = std::thread([this] { run(); });
}

quote_stream::~quote_stream() {
    stop();
}

void quote_stream::stop() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
}

void quote_stream::log(const std::string& event) const {
    if (m_log) m_log(clock_text() + event);
}

void quote_stream::run() {
    while (!m_stop.load()) {
        wait_for_work(clock::now());
        const clock::time_point now = clock::now();
        // A request implies its connection was accepted before it, so connections are looked
        // at after the requests were taken: every request then finds its session.
        take_requests();
        take_new_connections(now);
        answer_requests();
        close_ended(now);
        send_quotes(now);
        send_heartbeats(now);
        m_clients.store(m_sessions.size());
    }
}

void quote_stream::take_requests() {
    // Taking empties the server's record, so that a server running for days does not grow.
    std::vector<request> taken = m_server.take_requests();
    m_fresh.insert(m_fresh.end(), std::make_move_iterator(taken.begin()),
                   std::make_move_iterator(taken.end()));
}

void quote_stream::wait_for_work(clock::time_point now) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        std::max(next_deadline(now) - now, clock::duration::zero()));
    // The condition runs on this thread, so it may take the requests itself: any new one, a
    // new connection or a closed one ends the wait.
    m_server.wait_for(
        [this] {
            if (m_stop.load()) return true;
            take_requests();
            return !m_fresh.empty() || m_server.accepted_count() != m_known ||
                   m_server.open_count() != m_sessions.size();
        },
        static_cast<int>(wait.count()));
}

quote_stream::clock::time_point quote_stream::next_deadline(clock::time_point now) const {
    clock::time_point deadline = now + idle_wait;
    for (const auto& entry : m_sessions) {
        const client_session& session = entry.second;
        if (m_source) {
            deadline = std::min(deadline, m_source->next_due(session, now));
        } else if (session.logged_in && !session.registered.empty()) {
            const double round = static_cast<double>(m_ticks + 1) / m_options.rate;
            deadline = std::min(deadline, m_start + seconds(round));
        }
        if (session.logged_in && m_options.heartbeat_seconds > 0) {
            deadline = std::min(deadline, session.next_heartbeat);
        }
        if (m_options.drop_after_seconds > 0) {
            deadline = std::min(deadline, session.accepted + seconds(m_options.drop_after_seconds));
        }
    }
    return deadline;
}

void quote_stream::take_new_connections(clock::time_point now) {
    const std::size_t accepted = m_server.accepted_count();
    for (; m_known < accepted; ++m_known) {
        client_session session;
        session.number = m_known;
        session.accepted = now;
        session.next_heartbeat = now + seconds(m_options.heartbeat_seconds);
        m_sessions.emplace(m_known, session);
        log("client " + std::to_string(m_known) + ": connected");
    }
}

void quote_stream::answer_requests() {
    std::vector<request> batch;
    batch.swap(m_fresh);
    for (const request& req : batch) {
        const auto found = m_sessions.find(req.connection);
        if (found == m_sessions.end()) continue;  // its connection has already ended
        const desk_answer answer = m_desk.answer(found->second, req);
        if (!answer.bytes.empty()) m_writer.send(req.connection, answer.bytes);
        if (!answer.event.empty()) log(answer.event);
    }
}

void quote_stream::close_ended(clock::time_point now) {
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        const client_session& session = it->second;
        const std::string who = "client " + std::to_string(session.number) + ": ";
        const bool expired = m_options.drop_after_seconds > 0 &&
                             now - session.accepted >= seconds(m_options.drop_after_seconds);
        if (expired && m_server.drop(session.number)) {
            char after[32];
            std::snprintf(after, sizeof after, "%g", m_options.drop_after_seconds);
            log(who + "dropped after " + after + " s (--drop-after)");
        } else if (m_server.is_open(session.number)) {
            ++it;
            continue;
        } else {
            log(who + "disconnected (" + std::to_string(session.quotes) + " quotes sent)");
        }
        if (m_source) m_source->end(session.number);
        it = m_sessions.erase(it);
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

    std::map<std::size_t, std::vector<std::size_t>> readers;  // instrument -> connections
    for (const auto& entry : m_sessions) {
        if (!entry.second.logged_in) continue;
        for (std::size_t index : entry.second.registered) readers[index].push_back(entry.first);
    }
    if (readers.empty()) return;
    std::map<std::size_t, std::vector<std::string>> outgoing;  // connection -> quote messages
    const quote_stamp stamp = stamp_now();
    for (std::uint64_t round = 0; round < rounds; ++round) {
        for (const auto& reader : readers) {
            const std::string bytes = quote_bytes(m_market.at(reader.first).exchange_code,
                                                  m_market.next_quote(reader.first, stamp));
            for (std::size_t connection : reader.second) outgoing[connection].push_back(bytes);
        }
    }
    for (const auto& out : outgoing) {
        client_session& session = m_sessions[out.first];
        const std::uint64_t before = session.quotes;
        m_writer.send_quotes(out.first, out.second, session.quotes);
        m_quotes_sent.fetch_add(session.quotes - before);
    }
}

void quote_stream::send_from_source(clock::time_point now) {
    for (auto& entry : m_sessions) {
        m_batch.clear();
        m_source->take_due(entry.second, now, m_batch);
        if (!m_batch.event.empty()) log(m_batch.event);
        if (m_batch.quotes == 0) continue;
        m_writer.send(entry.first, m_batch.bytes);
        entry.second.quotes += m_batch.quotes;
        m_quotes_sent.fetch_add(m_batch.quotes);
    }
}

void quote_stream::send_heartbeats(clock::time_point now) {
    if (m_options.heartbeat_seconds <= 0) return;
    for (auto& entry : m_sessions) {
        client_session& session = entry.second;
        if (!session.logged_in || now < session.next_heartbeat) continue;
        m_writer.send(session.number,
                      heartbeat_bytes(static_cast<std::int64_t>(std::time(nullptr))));
        session.next_heartbeat = now + seconds(m_options.heartbeat_seconds);
    }
}

}  // namespace sim
