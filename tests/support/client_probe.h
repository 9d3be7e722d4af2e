// Test support: a client without a connection whose receive half is driven straight from byte
// arrays, as the transport would drive it, with a stand-in for the worker's thread. Reaches
// the client's tables and flags as the friend Coqc_tcp declares.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "client/coqc_tcp.h"
#include "client/receive_path.h"
#include "net/socket_event.h"

struct coqc_tcp_probe {
    using guard = KESTRO::TOOLS::locker<KESTRO::TOOLS::critical_lock>;

    // Worker starts the stand-in has seen, over every probed client.
    static std::atomic<int>& worker_starts() {
        static std::atomic<int> starts{0};
        return starts;
    }
    // The worker's thread only counts its start and leaves: nothing is sent, nothing waited for.
    static void stand_in_worker(void*) { worker_starts().fetch_add(1); }

    static void attach(Coqc_tcp& c, OrvQuoteEventSink* sink) {
        c.m_sink.store(sink);
        c.m_worker_entry = &stand_in_worker;
        c.m_stop.store(true);  // no Disconnect line at the end: nothing was connected
    }
    // Lets go of a started stand-in, so that the client can be destroyed at once and quietly.
    static void end_worker(Coqc_tcp& c) {
        c.m_thread_is_running.store(false);
        c.m_stop.store(true);
    }
    static void set_worker_flag(Coqc_tcp& c, bool on) { c.m_thread_is_running.store(on); }

    static std::map<std::string, int> valid(Coqc_tcp& c) {
        guard lock(c.m_symbol_lock);
        std::map<std::string, int> out;
        for (auto it = c.m_valid_symbols.begin(); it != c.m_valid_symbols.end(); ++it) {
            out.emplace(it.key(), it.value());
        }
        return out;
    }
    static std::vector<std::string> registered(Coqc_tcp& c) {
        guard lock(c.m_symbol_lock);
        std::vector<std::string> out;
        for (auto it = c.m_registered.begin(); it != c.m_registered.end(); ++it) {
            out.push_back(it.key());
        }
        return out;
    }
    static void add_valid(Coqc_tcp& c, const std::string& symbol, int code) {
        guard lock(c.m_symbol_lock);
        c.m_valid_symbols.insert(symbol.c_str(), code);
    }
    static std::size_t wanted_size(Coqc_tcp& c) {
        guard lock(c.m_symbol_lock);
        return c.m_wanted.size();
    }
    static bool list_done(Coqc_tcp& c) { return c.m_symbol_list_done.load(); }
    static int relogin_result(Coqc_tcp& c) { return c.m_relogin_result.load(); }
    static bool link_lost(Coqc_tcp& c) { return c.m_link_lost.load(); }
    static std::vector<int> queued_kinds(Coqc_tcp& c) {
        guard lock(c.m_queue_lock);
        std::vector<int> kinds;
        for (auto& item : c.m_send_queue) kinds.push_back(item->kind);
        return kinds;
    }
};

// The transport's side of the receive path: a stream of unconsumed bytes, offered again after
// every delivery and after every call that consumed something, as the cached client does.
class stream_feeder {
public:
    explicit stream_feeder(Coqc_tcp& client) : m_client(client) {}

    // Appends one delivery and offers the stream until the client leaves the rest for later.
    void deliver(const char* bytes, std::size_t length) {
        m_pending.insert(m_pending.end(), bytes, bytes + length);
        while (!m_pending.empty()) {
            socket_event event(EVENT_RECV, 0, m_pending.data(),
                               static_cast<std::uint32_t>(m_pending.size()), 0);
            receive_path::on_cache_callback(&event, &m_client);
            const std::int32_t used = event.processed();
            if (used <= 0) return;
            m_pending.erase(m_pending.begin(), m_pending.begin() + used);
        }
    }
    void deliver(const std::string& bytes) { deliver(bytes.data(), bytes.size()); }
    void raise(std::uint32_t type) {
        socket_event event(type, 0, nullptr, 0, 0);
        receive_path::on_cache_callback(&event, &m_client);
    }
    std::size_t pending() const { return m_pending.size(); }

private:
    Coqc_tcp& m_client;
    std::vector<char> m_pending;
};
