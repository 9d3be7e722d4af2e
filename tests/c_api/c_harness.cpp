// Test support: the C face of c_harness.h over the simulator, the standard library's threads
// and the C++ interface.
#include "c_api/c_harness.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/c_client.h"
#include "orv_quote_api.h"
#include "sim/messages.h"
#include "sim/quote_server.h"
#include "sim/sample_data.h"

struct th_server {
    sim::quote_server server;
};

struct th_recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<th_record> records;
    bool sealed = false;
    int late = 0;
};

struct th_thread {
    std::thread thread;
};

namespace {

// The C++ interface's sink, calling a C callback table as the C interface would.
class table_sink : public OrvQuoteEventSink {
public:
    table_sink(const orvq_callbacks& table, void* user) : m_table(table), m_user(user) {}

    void OnServerConnected() override { m_table.on_connected(m_user); }
    void OnServerDisconnected() override { m_table.on_disconnected(m_user); }
    void OnLoginReply(bool success, const char* text) override {
        m_table.on_login_reply(m_user, success, text);
    }
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override {
        m_table.on_quote(m_user, exchange_code, reinterpret_cast<const orvq_quote*>(quote));
    }
    void OnLogText(int level, const char* text, int length) override {
        m_table.on_log(m_user, level, text, length);
    }
    void OnRegisterReply(int exchange_code, const char* symbol, bool success) override {
        m_table.on_register_reply(m_user, exchange_code, symbol, success);
    }
    void OnUnregisterReply(int exchange_code, const char* symbol, bool success) override {
        m_table.on_unregister_reply(m_user, exchange_code, symbol, success);
    }
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override {
        m_table.on_symbol(m_user, exchange_code, symbol, last);
    }

private:
    const orvq_callbacks m_table;
    void* const m_user;
};

struct cxx_client {
    OrvQuoteApi* api;
    table_sink sink;
};

cxx_client* cxx(orvq_client* client) {
    return reinterpret_cast<cxx_client*>(client);
}

}  // namespace

extern "C" {

th_server* th_server_start(void) {
    return new th_server;
}

void th_server_stop(th_server* server) {
    delete server;
}

int th_server_port(const th_server* server) {
    return server->server.port();
}

int th_symbol_count(void) {
    return static_cast<int>(sim::sample_symbols().size());
}

void th_make_quote(const char* symbol, int sequence, orvq_quote* out) {
    const OrvMarketDepthQuoteData quote = sim::make_quote(symbol, sequence);
    std::memcpy(out, &quote, sizeof *out);
}

int th_send_quotes(th_server* server, char exchange_code, const char* symbol, int first,
                   int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        bytes += sim::quote_bytes(exchange_code, sim::make_quote(symbol, first + i));
    }
    return server->server.send_raw(sim::all_connections, bytes);
}

int th_drop_all(th_server* server) {
    server->server.drop_all();
    return th_wait_no_connection(server);
}

int th_wait_no_connection(th_server* server) {
    return server->server.wait_open_count(0, 10000);
}

th_recorder* th_recorder_new(void) {
    return new th_recorder;
}

void th_recorder_free(th_recorder* recorder) {
    delete recorder;
}

void th_add(th_recorder* recorder, int kind, int exchange_code, int value, const char* text,
            const orvq_quote* quote) {
    th_record record{};
    record.kind = kind;
    record.exchange_code = exchange_code;
    record.value = value;
    if (text != nullptr) std::strncpy(record.text, text, sizeof record.text - 1);
    if (quote != nullptr) record.quote = *quote;
    {
        std::lock_guard<std::mutex> guard(recorder->lock);
        if (recorder->sealed) ++recorder->late;
        recorder->records.push_back(record);
    }
    recorder->changed.notify_all();
}

static int count_locked(th_recorder* recorder, int kind) {
    int n = 0;
    for (const th_record& record : recorder->records) n += kind == 0 || record.kind == kind;
    return n;
}

int th_count(th_recorder* recorder, int kind) {
    std::lock_guard<std::mutex> guard(recorder->lock);
    return count_locked(recorder, kind);
}

int th_wait(th_recorder* recorder, int kind, int count, int timeout_ms) {
    std::unique_lock<std::mutex> lock(recorder->lock);
    return recorder->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                      [&] { return count_locked(recorder, kind) >= count; });
}

int th_get(th_recorder* recorder, int index, th_record* out) {
    std::lock_guard<std::mutex> guard(recorder->lock);
    if (index < 0 || static_cast<std::size_t>(index) >= recorder->records.size()) return 0;
    *out = recorder->records[static_cast<std::size_t>(index)];
    return 1;
}

void th_seal(th_recorder* recorder) {
    std::lock_guard<std::mutex> guard(recorder->lock);
    recorder->sealed = true;
}

int th_late(th_recorder* recorder) {
    std::lock_guard<std::mutex> guard(recorder->lock);
    return recorder->late;
}

th_thread* th_thread_start(void (*run)(void*), void* argument) {
    return new th_thread{std::thread(run, argument)};
}

void th_thread_join(th_thread* thread) {
    thread->thread.join();
    delete thread;
}

long long th_now_ms(void) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int th_wait_until(int (*done)(void*), void* argument, int timeout_ms) {
    const long long deadline = th_now_ms() + timeout_ms;
    while (!done(argument)) {
        if (th_now_ms() >= deadline) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 1;
}

int th_pollers(orvq_client* client) {
    return client->pollers();
}

int th_cxx_create(const orvq_callbacks* callbacks, void* user, int32_t, orvq_client** client) {
    *client = reinterpret_cast<orvq_client*>(
        new cxx_client{CreateOrvQuoteApi(), table_sink(*callbacks, user)});
    return ORVQ_OK;
}

int th_cxx_destroy(orvq_client* client) {
    DestroyOrvQuoteApi(cxx(client)->api);
    delete cxx(client);
    return ORVQ_OK;
}

int th_cxx_connect(orvq_client* client, const char* host, int port) {
    OqsTcpInfo server;
    std::strncpy(server.ServerIp, host, sizeof server.ServerIp - 1);
    server.ServerPort = static_cast<std::uint16_t>(port);
    return cxx(client)->api->ConnServer(server, &cxx(client)->sink) ? ORVQ_OK : ORVQ_ERR_CONNECT;
}

int th_cxx_login(orvq_client* client, const char* user, const char* password) {
    OrvLoginInfo login;
    std::strncpy(login.UserId, user, sizeof login.UserId - 1);
    std::strncpy(login.Password, password, sizeof login.Password - 1);
    cxx(client)->api->LoginToOqs(login);
    return ORVQ_OK;
}

int th_cxx_register(orvq_client* client, char exchange_code, const char* symbol) {
    cxx(client)->api->RegisterSymbol(exchange_code, symbol);
    return ORVQ_OK;
}

int th_cxx_unregister(orvq_client* client, char exchange_code, const char* symbol) {
    cxx(client)->api->UnregisterSymbol(exchange_code, symbol);
    return ORVQ_OK;
}

int th_cxx_query_symbols(orvq_client* client) {
    cxx(client)->api->QuerySymbolList();
    return ORVQ_OK;
}

int th_cxx_disconnect(orvq_client* client) {
    cxx(client)->api->Disconnect();
    return ORVQ_OK;
}

}  // extern "C"
