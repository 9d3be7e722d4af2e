#include "bridge_publisher.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "session_sink.h"

namespace {

constexpr auto first_pause = std::chrono::milliseconds(50);
constexpr auto longest_pause = std::chrono::milliseconds(2000);

}  // namespace

bridge_publisher::bridge_publisher(capture::capture_queue& queue, redis_link link,
                                   redis_login login, stream_layout layout)
    : m_queue(queue),
      m_link(std::move(link)),
      m_login(std::move(login)),
      m_layout(std::move(layout)) {
    m_out.reserve(chunk * 512);
}

bridge_publisher::~bridge_publisher() {
    finish("ended");
}

void bridge_publisher::start(stream_event started) {
    m_started = std::move(started);
    m_thread = std::thread([this] { run(); });
}

void bridge_publisher::post(stream_event event) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pending.push_back(std::move(event));
    }
    m_queue.wake();
}

void bridge_publisher::finish(const std::string& why) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stop) return;
        m_stop = true;
        m_why = why;
    }
    m_wake.notify_all();
    m_queue.close();
    if (m_thread.joinable()) m_thread.join();
}

void bridge_publisher::run() {
    post(std::move(m_started));
    bool more = true;
    while (more) {
        if (!m_link.is_open() && !reconnect()) break;
        more = m_queue.take_all(m_batch);
        if (m_restoring) {
            // Counted once the queue has been emptied, so that the number covers every quote
            // that found it full.
            m_restoring = false;
            post({"redis_restored",
                  wall_clock_ns(),
                  "Redis is back; quotes were lost meanwhile",
                  {{"lost", dropped() - m_lost_mark},
                   {"since_ns", static_cast<std::uint64_t>(m_lost_at_ns)},
                   {"published", published()}}});
        }
        publish_events();
        publish_quotes();
    }
    // Stopping while Redis is away: what the queue still holds will not be published.
    while (m_queue.take_all(m_batch)) m_unconfirmed.fetch_add(m_batch.size());
    if (!m_link.is_open()) return;
    std::string why;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        why = m_why;
    }
    post({"stopped",
          wall_clock_ns(),
          why,
          {{"published", published()}, {"dropped", dropped()}, {"refused", refused()}}});
    publish_events();
}

bool bridge_publisher::reconnect() {
    auto pause = first_pause;
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stop) {
        lock.unlock();
        const bool opened = m_link.open(m_login);
        lock.lock();
        if (opened) {
            m_reconnects.fetch_add(1);
            m_up.store(true);
            m_restoring = true;
            return true;
        }
        m_wake.wait_for(lock, pause, [this] { return m_stop; });
        pause = std::min(pause * 2, longest_pause);
    }
    return false;
}

void bridge_publisher::link_broke(std::uint64_t unconfirmed) {
    if (!m_restoring) {
        m_lost_mark = dropped();
        m_lost_at_ns = wall_clock_ns();
    }
    m_unconfirmed.fetch_add(unconfirmed);
    m_up.store(false);
    m_link.close();
}

template <class Answered>
std::size_t bridge_publisher::read_replies(std::size_t commands, Answered answered) {
    std::string text;
    for (std::size_t i = 0; i < commands; ++i) {
        const redis_link::reply reply = m_link.read(&text);
        if (reply == redis_link::reply::broken) return i;
        if (reply == redis_link::reply::refused && m_first_refusal.empty()) m_first_refusal = text;
        answered(i, reply == redis_link::reply::ok);
    }
    return commands;
}

void bridge_publisher::publish_events() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.swap(m_pending);
    }
    if (m_events.empty() || !m_link.is_open()) return;
    m_out.clear();
    for (const stream_event& event : m_events) append_event_entry(m_out, m_layout, event);
    if (!m_link.send(m_out) ||
        read_replies(m_events.size(), [](std::size_t, bool) {}) < m_events.size()) {
        link_broke(0);
    }
    m_events.clear();
}

bool bridge_publisher::confirm_quotes(std::size_t from, std::size_t n) {
    std::uint64_t confirmed = 0, refused = 0;
    const std::size_t read = read_replies(n, [&](std::size_t i, bool ok) {
        if (!ok) {
            ++refused;
            return;
        }
        m_latency.add(wall_clock_ns() - m_batch[from + i].receive_ns);
        ++confirmed;
    });
    m_published.fetch_add(confirmed);
    m_refused.fetch_add(refused);
    if (read == n) return true;
    link_broke(m_batch.size() - from - read);
    return false;
}

void bridge_publisher::publish_quotes() {
    // Two chunks in flight: the next one is queued before the replies to the last are read,
    // and leaves with that read, so that Redis has work while this thread reads and encodes.
    std::size_t sent_from = 0, sent = 0;  // the chunk whose replies are outstanding
    for (std::size_t from = 0; from < m_batch.size() && m_link.is_open(); from += chunk) {
        const std::size_t n = std::min(chunk, m_batch.size() - from);
        m_out.clear();
        for (std::size_t i = 0; i < n; ++i) append_quote_entry(m_out, m_layout, m_batch[from + i]);
        if (!m_link.send(m_out)) {
            link_broke(m_batch.size() - (sent > 0 ? sent_from : from));
            return;
        }
        if (sent > 0 && !confirm_quotes(sent_from, sent)) return;
        sent_from = from;
        sent = n;
    }
    if (sent > 0) confirm_quotes(sent_from, sent);
}
