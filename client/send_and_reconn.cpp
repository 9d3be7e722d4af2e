// The client's worker: completes a login with the symbol list, then serves the send queue,
// keeps the server's registrations in line with the application's wishes, sends heartbeats,
// and after a lost connection reconnects and logs in again. One worker per client at a time.
#include <chrono>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "client/coqc_tcp.h"
#include "net/socket_cache_client.h"
#include "protocol/symbol_names.h"
#include "protocol/wire.h"

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;
using std::chrono::milliseconds;

namespace {

constexpr int pass_idle = 100;   // nothing sent: wait 100 ms
constexpr int pass_sent = 500;   // requests sent: wait 500 ms
constexpr int pass_failed = -1;  // a send failed: reconnect
constexpr int heartbeat_pause_ms = 1000;
// Each wait ends by the clock, not by a count of sleeps: a Windows sleep lasts at least a
// timer tick (15.6 ms by default), so counted steps would stretch it many times over.
constexpr milliseconds symbol_list_wait{5000};
constexpr milliseconds relogin_wait{5000};
constexpr std::uint32_t reconnect_wait_ms = 2000;
constexpr int relogin_attempts = 10;

}  // namespace

bool Coqc_tcp::start_worker() {
    bool expected = false;
    if (!m_thread_is_running.compare_exchange_strong(expected, true)) return true;
    m_stop.store(false);
    // A previous worker has finished with the client once its flag is clear; release it.
    platform::thread_join(m_worker);
    if (!platform::thread_start(m_worker_entry, this, &m_worker, nullptr)) {
        m_thread_is_running.store(false);
        m_wake.notify();
        return false;
    }
    return true;
}

void Coqc_tcp::_th_oqc_send_and_reconn(void* client) {
    static_cast<Coqc_tcp*>(client)->run_worker();
}

void Coqc_tcp::run_worker() {
    Log(0, "[QuoteClient] _th_oqc_send_and_reconn begin");
    if (!_th_try_query_symbol_list()) {
        Reset();                  // a live connection reports its end as it closes
        report_unreported_end();  // one that was lost has not
        char text[256];
        KESTRO::TOOLS::format_str(text, sizeof text, "%s", "query symbol error");
        Log(3, "[QuoteClient] %s", text);
        if (OrvQuoteEventSink* target = sink()) target->OnLoginReply(false, text);
        finish_worker();
        return;
    }
    m_status.store(STATUS_LOGGED_IN);
    if (OrvQuoteEventSink* target = sink()) target->OnLoginReply(true, "");
    char ip[16];
    int port = 0;
    server_address(ip, &port);
    Log(1, "[QuoteClient] login success. server ip: %s, port: %d.", ip, port);
    const std::int64_t start_second = static_cast<std::int64_t>(std::time(nullptr));

    while (!m_stop.load()) {
        std::unique_ptr<oqc_data_and_event> item;
        {
            locker<critical_lock> guard(m_queue_lock);
            if (!m_send_queue.empty()) {
                item = std::move(m_send_queue.front());
                m_send_queue.pop_front();
            }
        }
        if (item && item->kind == oqc_data_and_event::KIND_DATA) {
            if (item->length > 0 && item->data[0] == 'S') {
                report_symbol_list();
            } else if (send_whole(item->data.get(), item->length) < 0) {
                Log(3, "[QuoteClient] tcp client send data error.");
            }
            continue;
        }
        if (item) {
            item.reset();
            handle_reconnect();
            continue;
        }
        const int pass = registration_step();
        if (pass == pass_failed) {
            enqueue(std::make_unique<oqc_data_and_event>(oqc_data_and_event::KIND_RECONNECT,
                                                         nullptr, 0));
            continue;
        }
        const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
        // The sum, not the difference: the heartbeat rhythm the server is used to.
        if ((start_second + now) % 5 == 0) {
            send_heartbeat();
            pause_unless_stopped(heartbeat_pause_ms);
        }
        pause_unless_stopped(static_cast<std::uint32_t>(pass));
    }
    Reset();
    report_unreported_end();
    Log(0, "[QuoteClient] _th_oqc_send_and_reconn end");
    finish_worker();
}

void Coqc_tcp::finish_worker() {
    m_thread_is_running.store(false);
    // The client may go as soon as the flag is seen clear; its destructor joins this thread
    // before the signal goes, so the wake-up is still safe.
    m_wake.notify();
}

bool Coqc_tcp::pause_unless_stopped(std::uint32_t ms) {
    return !m_wake.wait_for(milliseconds(ms), [&] { return m_stop.load(); });
}

bool Coqc_tcp::_th_try_query_symbol_list() {
    m_symbol_list_done.store(false);
    oqs_query_symbol_req request;
    build_query_symbol_req(request);
    if (transport_send(reinterpret_cast<const char*>(&request), QUERY_SYMBOL_REQ_LEN) !=
        static_cast<int>(QUERY_SYMBOL_REQ_LEN)) {
        return false;
    }
    // A stop, or the loss of the connection that was asked, ends the wait at once: no list
    // can come any more.
    m_wake.wait_for(symbol_list_wait, [&] {
        return m_symbol_list_done.load() || m_stop.load() || m_link_lost.load();
    });
    if (!m_symbol_list_done.load()) return false;
    std::uint64_t size = 0;
    {
        locker<critical_lock> guard(m_symbol_lock);
        size = m_valid_symbols.size();
    }
    Log(0, "Coqc_tcp::_th_try_query_symbol_list,size:%d", static_cast<int>(size));
    return true;
}

int Coqc_tcp::send_whole(const char* data, int length) {
    int sent = 0;
    while (sent < length) {
        const int taken = transport_send(data + sent, length - sent);
        // A send that takes nothing would repeat forever: count it as a failure.
        if (taken <= 0) return -1;
        sent += taken;
    }
    return sent;
}

int Coqc_tcp::registration_step() {
    std::vector<oqs_reg_symbol_req> registers;
    std::vector<oqs_unreg_symbol_req> unregisters;
    std::uint64_t valid = 0, registered = 0, wanted = 0;
    {
        locker<critical_lock> guard(m_symbol_lock);
        for (auto it = m_valid_symbols.begin(); it != m_valid_symbols.end(); ++it) {
            const bool is_wanted = m_wanted.contains(it.key());
            const bool is_registered = m_registered.contains(it.key());
            if (is_wanted == is_registered) continue;
            oqs_reg_symbol_req request;
            build_reg_symbol_req(request, is_wanted ? 'N' : 'R', static_cast<char>(it.value()),
                                 it.key());
            (is_wanted ? registers : unregisters).push_back(request);
        }
        valid = m_valid_symbols.size();
        registered = m_registered.size();
        wanted = m_wanted.size();
    }
    if (registers.empty() && unregisters.empty()) {
        if (m_log_idle.exchange(false)) Log(0, "[QuoteClient] nothing to reg or unreg");
        return pass_idle;
    }
    Log(0, "[QuoteClient] valid:%u,registed:%u, need:%u", static_cast<unsigned>(valid),
        static_cast<unsigned>(registered), static_cast<unsigned>(wanted));
    m_log_idle.store(true);
    for (const auto& request : registers) {
        if (send_whole(reinterpret_cast<const char*>(&request), REG_SYMBOL_REQ_LEN) < 0) {
            Log(3, "[QuoteClient] tcp client send reg symbol req error.");
            return pass_failed;
        }
    }
    for (const auto& request : unregisters) {
        if (send_whole(reinterpret_cast<const char*>(&request), REG_SYMBOL_REQ_LEN) < 0) {
            Log(3, "[QuoteClient] tcp client send unreg symbol req error.");
            return pass_failed;
        }
    }
    Log(0, "[QuoteClient] send %u reg req, %u unreg req", static_cast<unsigned>(registers.size()),
        static_cast<unsigned>(unregisters.size()));
    return pass_sent;
}

void Coqc_tcp::send_heartbeat() {
    oqs_heartbeat heartbeat;
    build_heartbeat(heartbeat, static_cast<std::int64_t>(std::time(nullptr)));
    transport_send(reinterpret_cast<const char*>(&heartbeat), HEARTBEAT_LEN);
}

void Coqc_tcp::report_symbol_list() {
    OrvQuoteEventSink* target = sink();
    if (target == nullptr) return;
    std::vector<std::pair<std::string, int>> entries;
    {
        locker<critical_lock> guard(m_symbol_lock);
        entries.reserve(static_cast<std::size_t>(m_valid_symbols.size()));
        for (auto it = m_valid_symbols.begin(); it != m_valid_symbols.end(); ++it) {
            entries.emplace_back(it.key(), it.value());
        }
    }
    for (const auto& entry : entries) {
        const char* name = code_to_name(entry.first.c_str());
        target->OnSymbolListReply(entry.second, name != nullptr ? name : entry.first.c_str(),
                                  false);
    }
    target->OnSymbolListReply('0', "", true);
}

void Coqc_tcp::flush_queue() {
    std::deque<std::unique_ptr<oqc_data_and_event>> dropped;
    {
        locker<critical_lock> guard(m_queue_lock);
        dropped.swap(m_send_queue);
    }
}

void Coqc_tcp::handle_reconnect() {
    tell_connection_lost();  // a failed send comes here without the transport's report
    flush_queue();
    // The old connection delivers nothing more from here: a register reply it handled after
    // the table below was emptied would mark a symbol that the new connection then never
    // registers.
    retire_transport();
    {
        // The server forgot our registrations with the connection; the wanted ones are
        // sent again once the symbol list is back.
        locker<critical_lock> guard(m_symbol_lock);
        m_registered.clear();
    }
    int result = 0;
    for (int attempt = 0; attempt < relogin_attempts; ++attempt) {
        result = relogin();
        if (result == -1) m_stop.store(true);
        if (result != 0) break;
    }
    flush_queue();
    if (result == 1) {
        tell_connection_restored();
    } else {
        m_stop.store(true);
    }
}

int Coqc_tcp::relogin() {
    if (!reconnect()) return -1;
    m_relogin_result.store(0);
    if (!SendLoginRequest()) return 0;
    const bool answered = m_wake.wait_for(
        relogin_wait, [&] { return m_relogin_result.load() != 0 || m_stop.load(); });
    if (!answered) {
        Log(3, "[QuoteClient] wait for login response timeout.");
        return m_stop.load() ? -1 : 0;
    }
    if (m_relogin_result.load() != 1) return -1;
    return _th_try_query_symbol_list() ? 1 : 0;
}

bool Coqc_tcp::reconnect() {
    for (;;) {
        if (m_stop.load()) return false;
        if (!pause_unless_stopped(reconnect_wait_ms)) return false;
        retire_transport();
        if (m_stop.load()) return false;
        bool connected = false;
        make_connected_transport(&connected);
        if (connected) return true;
        char ip[16];
        int port = 0;
        server_address(ip, &port);
        Log(3, "[QuoteClient] connect server failed. server ip: %s, port: %d.", ip, port);
    }
}
