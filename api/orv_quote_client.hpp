// Public, header-only. A C++17 client over the C interface (orv_quote_c.h), compiled entirely by
// the application's own compiler and standard library: only the C header's plain types cross
// into the shipped library, so a program built with Microsoft's compiler, or with clang and
// libc++, uses the same orvquote.dll / liborvquote.so.1 as one built with g++.
//
//   orvq::client: owns one client (RAII: destroyed with the object); its operations throw
//                 orvq::error for a failed status.
//   orvq::sink:   the application's events as virtual methods, reached through static
//                 trampolines that the C interface calls with the sink as its user pointer.
//
// Threads, texts and events are the C header's: sink calls come on the library's threads, the
// texts they get are valid during the call only, and a sink must outlive its client. An
// exception thrown by a sink method is caught and dropped in the trampoline: nothing may unwind
// through the library. Never destroy a client from inside one of its sink calls.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "orv_quote_c.h"

namespace orvq {

using quote = orvq_quote;
using event = orvq_event;
using stats = orvq_stats;

// A failed call: its status (ORVQ_ERR_*) and the library's text for it.
class error : public std::runtime_error {
public:
    explicit error(int status, const std::string& what = std::string())
        : std::runtime_error(what.empty() ? orvq_status_text(status) : what), m_status(status) {}
    int status() const noexcept { return m_status; }

private:
    int m_status;
};

// Throws orvq::error for a negative status; returns it otherwise.
inline int check(int status) {
    if (status < 0) throw error(status);
    return status;
}

// The application's events; override what you use. The arguments are those of the C header's
// callbacks, with bool where it says success or last.
class sink {
public:
    virtual ~sink() = default;

    virtual void on_connected() {}
    virtual void on_disconnected() {}
    virtual void on_login_reply(bool /*success*/, const char* /*text*/) {}
    virtual void on_quote(int /*exchange_code*/, const quote& /*quote*/) {}
    virtual void on_log(int /*level*/, const char* /*text*/, int /*length*/) {}
    virtual void on_register_reply(int /*exchange_code*/, const char* /*symbol*/,
                                   bool /*success*/) {}
    virtual void on_unregister_reply(int /*exchange_code*/, const char* /*symbol*/,
                                     bool /*success*/) {}
    virtual void on_symbol(int /*exchange_code*/, const char* /*symbol*/, bool /*last*/) {}
    virtual void on_connection_lost() {}
    virtual void on_connection_restored() {}
};

// How a client with a sink receives quotes: through sink::on_quote on the receive thread, or
// queued for client::poll_quotes (pull mode) while every other event still goes to the sink.
enum class quotes { by_callback, by_poll };

class client {
public:
    // Pull mode without a sink: quotes through poll_quotes, events through next_event.
    explicit client(std::int32_t queue_capacity = 0) { create(nullptr, nullptr, queue_capacity); }

    // Every event to `events`, which must outlive the client.
    explicit client(sink& events, quotes mode = quotes::by_callback,
                    std::int32_t queue_capacity = 0) {
        const orvq_callbacks table = trampolines(mode == quotes::by_callback);
        create(&table, &events, queue_capacity);
    }

    // Disconnects and frees the client; no sink call comes after it.
    ~client() { orvq_destroy(m_handle); }

    client(const client&) = delete;
    client& operator=(const client&) = delete;

    // The library's version text, e.g. "1.2.0".
    static const char* version() { return orvq_version(); }

    // The C header's operations; each throws orvq::error where that returns an error.
    void connect(const std::string& host, int port) {
        check(orvq_connect(m_handle, host.c_str(), port));
    }
    void login(const std::string& user, const std::string& password) {
        check(orvq_login(m_handle, user.c_str(), password.c_str()));
    }
    void register_symbol(char exchange_code, const std::string& symbol) {
        check(orvq_register(m_handle, exchange_code, symbol.c_str()));
    }
    void unregister_symbol(char exchange_code, const std::string& symbol) {
        check(orvq_unregister(m_handle, exchange_code, symbol.c_str()));
    }
    void query_symbols() { check(orvq_query_symbols(m_handle)); }
    void disconnect() { check(orvq_disconnect(m_handle)); }

    // Pull mode: up to `max` quotes, oldest first, waiting up to timeout_ms (negative: without
    // end) for the first; returns how many (0 on time-out). Codes and times where not null.
    int poll_quotes(quote* out, int max, int timeout_ms, char* exchange_codes = nullptr,
                    std::int64_t* receive_ns = nullptr) {
        return check(orvq_poll_quotes(m_handle, out, exchange_codes, receive_ns, max, timeout_ms));
    }

    // Pull mode: the oldest queued event; false on time-out.
    bool next_event(event& out, int timeout_ms) {
        out.size = sizeof out;
        return check(orvq_next_event(m_handle, &out, timeout_ms)) == 1;
    }

    stats get_stats() const {
        stats out{};
        out.size = sizeof out;
        check(orvq_get_stats(m_handle, &out));
        return out;
    }

    // The C handle, for calls this class does not wrap.
    orvq_client* handle() const noexcept { return m_handle; }

private:
    void create(const orvq_callbacks* table, sink* events, std::int32_t queue_capacity) {
        // The layout this header was built with must be the library's.
        if (orvq_abi_version() < ORVQ_ABI_VERSION || orvq_quote_size() != sizeof(quote)) {
            throw error(ORVQ_ERR_STATE, "the orvquote library is older than its header");
        }
        check(orvq_create(table, events, queue_capacity, &m_handle));
    }

    static sink& to(void* user) { return *static_cast<sink*>(user); }

    // Runs one sink call; whatever it throws stops here.
    template <class Call>
    static void guarded(Call call) noexcept {
        try {
            call();
        } catch (...) {
        }
    }

    static void connected(void* user) {
        guarded([&] { to(user).on_connected(); });
    }
    static void disconnected(void* user) {
        guarded([&] { to(user).on_disconnected(); });
    }
    static void login_reply(void* user, int success, const char* text) {
        guarded([&] { to(user).on_login_reply(success != 0, text); });
    }
    static void quote_arrived(void* user, int exchange_code, const quote* record) {
        guarded([&] { to(user).on_quote(exchange_code, *record); });
    }
    static void log_line(void* user, int level, const char* text, int length) {
        guarded([&] { to(user).on_log(level, text, length); });
    }
    static void register_reply(void* user, int exchange_code, const char* symbol, int success) {
        guarded([&] { to(user).on_register_reply(exchange_code, symbol, success != 0); });
    }
    static void unregister_reply(void* user, int exchange_code, const char* symbol, int success) {
        guarded([&] { to(user).on_unregister_reply(exchange_code, symbol, success != 0); });
    }
    static void symbol(void* user, int exchange_code, const char* name, int last) {
        guarded([&] { to(user).on_symbol(exchange_code, name, last != 0); });
    }
    static void connection_lost(void* user) {
        guarded([&] { to(user).on_connection_lost(); });
    }
    static void connection_restored(void* user) {
        guarded([&] { to(user).on_connection_restored(); });
    }

    static orvq_callbacks trampolines(bool with_quotes) {
        orvq_callbacks table{};
        table.size = sizeof table;
        table.on_connected = &connected;
        table.on_disconnected = &disconnected;
        table.on_login_reply = &login_reply;
        table.on_quote = with_quotes ? &quote_arrived : nullptr;
        table.on_log = &log_line;
        table.on_register_reply = &register_reply;
        table.on_unregister_reply = &unregister_reply;
        table.on_symbol = &symbol;
        table.on_connection_lost = &connection_lost;
        table.on_connection_restored = &connection_restored;
        return table;
    }

    orvq_client* m_handle = nullptr;
};

}  // namespace orvq
